// The rows of the Photos app's album list, as data: PXNavigationListItem, a
// titled row with an item count, and its subclass
// PXNavigationListAssetCollectionItem, a row that stands for an album.
//
// Methods of PXNavigationListItem: -title -> NSString, -itemCount -> long long,
// -collection -> nil (a row that stands for no album).
// Methods of PXNavigationListAssetCollectionItem:
// -initWithAssetCollection:itemCount: (id, long long) -> id, the initialised
// item, whose title is the collection's localizedTitle and whose count is the
// count given (not the collection's own: the item shows the count it was
// created with); -collection -> the collection.
//
// The classes belong to the Photos app: photos::registerClasses() defines
// them (their accessors do too, on first use).
//
// Ownership: an item keeps its collection and title alive.
//
// Thread safety: none; items are made and read on the main thread.
#pragma once

#include "platform/foundation/nsstring.h"
#include "platform/objc/nsobject.h"

struct PXNavigationListItem : NSObject {
  Strong<NSString> title;
  long long itemCount = 0;
};

struct PXNavigationListAssetCollectionItem : PXNavigationListItem {
  Strong<objc_object> collection;
};

namespace photos {

Class listItemClass();
Class assetCollectionItemClass();

// [[PXNavigationListAssetCollectionItem alloc] initWithAssetCollection:
// collection itemCount:count], sent through the runtime; owned by the caller.
Strong<objc_object> newListItem(id collection, long long count);

}  // namespace photos

// PHAssetCollection: an album of the photo library, as the Photos app shows it
// in its list: a title, an estimated number of items, and what kind of album
// it is (the smart albums Recents, Favorites, Hidden and Recently Deleted, or
// an album the user made).
//
// Methods: -localizedTitle -> NSString, -estimatedAssetCount -> long long,
// -px_isHiddenSmartAlbum -> BOOL, -px_isRecentlyDeletedSmartAlbum -> BOOL,
// -description.
//
// The class belongs to the Photos app: photos::registerClasses() defines it
// (assetCollectionClass() does too, on first use); loading the library alone
// does not.
//
// Thread safety: a collection never changes once made.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/nsstring.h"
#include "platform/objc/nsobject.h"

namespace photos {

enum class AlbumKind { kRecents, kFavorites, kUserAlbum, kHidden, kRecentlyDeleted };

// The kind's name in the photo library file: "recents", "favorites", "album",
// "hidden", "recentlyDeleted".
const char* albumKindName(AlbumKind kind);
std::optional<AlbumKind> albumKindNamed(std::string_view name);

}  // namespace photos

struct PHAssetCollection : NSObject {
  Strong<NSString> localizedTitle;
  long long estimatedAssetCount = 0;
  photos::AlbumKind kind = photos::AlbumKind::kUserAlbum;
};

namespace photos {

Class assetCollectionClass();

// A new collection owned by the caller.
Strong<PHAssetCollection> newAssetCollection(std::string_view title, long long count,
                                             AlbumKind kind);

}  // namespace photos

// PXNavigationListGadget (a UIViewController): the Photos app's album list.
// It holds the library's albums, makes a list item per album when the list
// reloads, fills the row cells, and opens an album when its row is tapped. It
// is a child of the albums view controller, so its -navigationController is
// the one that shows the list.
//
// Methods:
//   -listItems -> NSArray of PXNavigationListAssetCollectionItem (the last
//     reload's)
//   -_navigateTolistItem:animated: (id item, BOOL) -> id: opens the item's
//     album (a PUAlbumViewController titled with the album's title, pushed
//     onto the gadget's navigation controller, animated as asked) and answers it; nil when there is
//     no navigation controller or the item stands for no album.
//   -_configureCell:forListItem:textColor: (id cell, id item, id colour) ->
//     void, only from system version 15.0: fills the cell completely, its
//     title and its badge, whose label gets the item's count as a plain
//     attributed string. Before 15.0 the class has no such method and the
//     list fills its cells itself.
//
// The generation is fixed when the class is defined (photos::registerClasses()
// or the first listGadgetClass()), from the device's system version.
//
// The gadget is also the data source of the album list's table (one row per
// list item, each cell made by newConfiguredCell and given the album's icon
// and a disclosure chevron).
//
// Everything the list does to its items and cells it does by sending these
// selectors through the runtime, so replacements of them apply.
//
// Ownership: the gadget keeps its albums and items; its parent, the albums
// view controller, keeps the gadget.
//
// Thread safety: main thread only.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/collections.h"
#include "platform/objc/nsobject.h"
#include "platform/photos/list_views.h"
#include "platform/uikit/uiviewcontroller.h"

struct PXNavigationListGadget : UIViewController {
  Strong<NSArray> collections;  // PHAssetCollection, in list order
  Strong<NSArray> listItems;
};

namespace photos {

// Whether a system version has the gadget's _configureCell:forListItem:
// textColor:, i.e. reads (as the platform's floatValue) as 15.0 or more.
bool hasCellConfiguration(std::string_view system_version);

Class listGadgetClass();

// A gadget for `collections`, owned by the caller.
Strong<PXNavigationListGadget> newListGadget(NSArray* collections);

// Makes the list items anew, one per album, each with
// alloc + initWithAssetCollection:itemCount: sent through the runtime, with
// the album's estimatedAssetCount.
void reloadListItems(PXNavigationListGadget* gadget);

// A new cell for `item`, filled as the list fills it: through
// _configureCell:forListItem:textColor: when the gadget has it, directly from
// the item's title and itemCount otherwise.
Strong<PXNavigationListCell> newConfiguredCell(PXNavigationListGadget* gadget, id item);

// Reloads the list and draws each row anew: `album <title>: <badge text>`.
std::vector<std::string> drawList(PXNavigationListGadget* gadget);

// The name of the symbol the list shows beside an album ("eye.slash" for
// Hidden, ...).
const char* albumSymbol(id collection);

// The list item whose title is `title`, nil when there is none.
id listItemTitled(PXNavigationListGadget* gadget, std::string_view title);

}  // namespace photos

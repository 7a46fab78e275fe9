// The Photos app's view controllers.
//
// PUAlbumsGadgetViewController (a UIViewController, titled "Albums"): the
// album list's screen. The list gadget is its child (-gadget).
// -_applicationDidEnterBackground: (id notification) -> void is sent to it
// when the app goes to the background; by itself it changes nothing visible.
//
// PUAlbumViewController (a UIViewController): an opened album, titled with
// the album's title. -collection answers the album.
//
// PUSidebarItem: one entry of the iPad sidebar, standing for an album:
// -collection, -title.
//
// PUSidebarViewController (a UIViewController, iPad only): the sidebar, with
// one item per album (-items) and the secondary navigation controller whose
// stack shows the chosen destination (-secondaryNavigationController).
// -_navigateToDestinationForItem:sameItem:completionHandler: (id item, BOOL,
// id block of signature void()) -> void shows the item's album: the secondary
// stack becomes the albums view controller and the album (unless sameItem is
// YES and the album is what the stack already shows), then the completion
// handler (if any) is called once.
//
// The classes belong to the Photos app: photos::registerClasses() defines
// them (their accessors do too, on first use).
//
// Ownership: the albums view controller keeps its gadget; an album view
// controller its album; the sidebar its items and the secondary navigation
// controller (which keeps its view controllers).
//
// Thread safety: main thread only.
#pragma once

#include "platform/foundation/collections.h"
#include "platform/objc/nsobject.h"
#include "platform/photos/list_gadget.h"
#include "platform/uikit/uiviewcontroller.h"

struct PUAlbumsGadgetViewController : UIViewController {
  Strong<PXNavigationListGadget> gadget;
};

struct PUAlbumViewController : UIViewController {
  Strong<objc_object> collection;
};

struct PUSidebarItem : NSObject {
  Strong<objc_object> collection;
};

struct PUSidebarViewController : UIViewController {
  Strong<NSArray> items;
  Strong<objc_object> secondaryNavigationController;
};

namespace photos {

Class albumsViewControllerClass();
Class albumViewControllerClass();
Class sidebarItemClass();
Class sidebarViewControllerClass();

// New view controllers, owned by the caller.
Strong<PUAlbumsGadgetViewController> newAlbumsViewController(NSArray* collections);
Strong<PUAlbumViewController> newAlbumViewController(id collection);
Strong<PUSidebarViewController> newSidebarViewController(NSArray* collections,
                                                         id secondary_navigation_controller);

// Whether the top of `navigation`'s stack is the opened album `collection`.
bool showsAlbum(id navigation, id collection);

// The sidebar item whose album has `title`, nil when there is none.
id sidebarItemTitled(PUSidebarViewController* sidebar, std::string_view title);

}  // namespace photos

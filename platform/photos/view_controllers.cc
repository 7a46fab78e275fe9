#include "platform/photos/view_controllers.h"

#include <algorithm>

#include "platform/foundation/nsstring.h"
#include "platform/objc/block.h"
#include "platform/uikit/uinavigationcontroller.h"
#include "platform/uikit/uitableview.h"

namespace photos {
namespace {

template <class T>
Strong<T> newInstance(Class cls) {
  return adopt(static_cast<T*>(msg<id>(msg<id>(cls, "alloc"_sel), "init"_sel)));
}

// A table of `style` whose rows come from `source`, which the caller keeps alive.
void loadTable(id self, id source, long style) {
  id table = msg<id>(msg<id>(uikit::tableViewClass(), "alloc"_sel), "initWithFrame:style:"_sel,
                     CGRectZero, style);
  msg<void>(table, "setDataSource:"_sel, source);
  msg<void>(table, "setDelegate:"_sel, source);
  msg<void>(self, "setView:"_sel, table);
  objc_release(table);
}

// The opened album: a grid of its photos (their shapes only), four across
// whatever the width the grid is given.
void layoutGrid(id self, SEL) {
  auto* grid = static_cast<UIView*>(self);
  double side = grid->frame.width / 4;
  for (size_t i = 0; i < grid->subviews.size(); ++i) {
    grid->subviews[i]->frame = CGRect{static_cast<double>(i % 4) * side + 1,
                                      static_cast<double>(i / 4) * side + 1, side - 2, side - 2};
  }
}

Class defineGridView() {
  Class cls = objc::defineClass<UIView>("PUPhotosGridView", uikit::viewClass());
  addMethod(cls, "layoutSubviews"_sel, layoutGrid);
  return cls;
}

Class gridViewClass() {
  static Class cls = defineGridView();
  return cls;
}

void loadAlbumGrid(id self) {
  Strong<UIView> grid = uikit::newView(gridViewClass(), CGRectZero);
  grid->backgroundColor = uikit::namedColor("whiteColor");
  long long count = msg<long long>(static_cast<PUAlbumViewController*>(self)->collection,
                                   "estimatedAssetCount"_sel);
  // Soft colours that repeat, so that the grid reads as photos.
  static const double kTones[][3] = {{0.80, 0.86, 0.93},
                                     {0.93, 0.85, 0.78},
                                     {0.82, 0.90, 0.80},
                                     {0.90, 0.82, 0.88},
                                     {0.85, 0.85, 0.80}};
  for (long long i = 0; i < std::min<long long>(count, 40); ++i) {
    const double* tone = kTones[i % 5];
    Strong<UIView> tile = uikit::newView(uikit::viewClass(), CGRectZero);
    tile->backgroundColor = static_cast<UIColor*>(msg<id>(
        uikit::colorClass(), "colorWithRed:green:blue:alpha:"_sel, tone[0], tone[1], tone[2], 1.0));
    uikit::addSubview(grid, tile);
  }
  msg<void>(self, "setView:"_sel, static_cast<id>(grid.get()));
}

Class defineAlbumsViewController() {
  Class cls = objc::defineClass<PUAlbumsGadgetViewController>("PUAlbumsGadgetViewController",
                                                              uikit::viewControllerClass());
  addMethod(
      cls, "gadget"_sel, +[](id self, SEL) -> id {
        return static_cast<PUAlbumsGadgetViewController*>(self)->gadget.get();
      });
  // The app tells its album list that it left the screen; the list itself
  // keeps everything as it is.
  addMethod(
      cls, "_applicationDidEnterBackground:"_sel, +[](id, SEL, id) {});
  addMethod(
      cls, "loadView"_sel, +[](id self, SEL) {
        loadTable(self, static_cast<PUAlbumsGadgetViewController*>(self)->gadget,
                  UITableViewStylePlain);
      });
  return cls;
}

Class defineAlbumViewController() {
  Class cls = objc::defineClass<PUAlbumViewController>("PUAlbumViewController",
                                                       uikit::viewControllerClass());
  addMethod(
      cls, "collection"_sel, +[](id self, SEL) -> id {
        return static_cast<PUAlbumViewController*>(self)->collection.get();
      });
  addMethod(
      cls, "loadView"_sel, +[](id self, SEL) { loadAlbumGrid(self); });
  return cls;
}

Class defineSidebarItem() {
  Class cls = objc::defineClass<PUSidebarItem>("PUSidebarItem", objc::nsobjectClass());
  addMethod(
      cls, "collection"_sel,
      +[](id self, SEL) -> id { return static_cast<PUSidebarItem*>(self)->collection.get(); });
  addMethod(
      cls, "title"_sel, +[](id self, SEL) -> id {
        return msg<id>(static_cast<PUSidebarItem*>(self)->collection, "localizedTitle"_sel);
      });
  return cls;
}

Class defineSidebarViewController() {
  Class cls = objc::defineClass<PUSidebarViewController>("PUSidebarViewController",
                                                         uikit::viewControllerClass());
  addMethod(
      cls, "items"_sel,
      +[](id self, SEL) -> id { return static_cast<PUSidebarViewController*>(self)->items.get(); });
  addMethod(
      cls, "secondaryNavigationController"_sel, +[](id self, SEL) -> id {
        return static_cast<PUSidebarViewController*>(self)->secondaryNavigationController.get();
      });
  addMethod(
      cls, "loadView"_sel,
      +[](id self, SEL) { loadTable(self, self, UITableViewStyleInsetGrouped); });
  addMethod(
      cls, "numberOfSectionsInTableView:"_sel, +[](id, SEL, id) -> long { return 1; });
  addMethod(
      cls, "tableView:numberOfRowsInSection:"_sel, +[](id self, SEL, id, long) -> long {
        auto* sidebar = static_cast<PUSidebarViewController*>(self);
        return sidebar->items ? static_cast<long>(sidebar->items->items.size()) : 0;
      });
  // A row per album; the album the secondary column shows is highlighted.
  addMethod(
      cls, "tableView:cellForRowAtIndexPath:"_sel, +[](id self, SEL, id, id path) -> id {
        auto* sidebar = static_cast<PUSidebarViewController*>(self);
        long row = msg<long>(path, "row"_sel);
        if (!sidebar->items || row < 0 || static_cast<size_t>(row) >= sidebar->items->items.size())
          return nullptr;
        id item = sidebar->items->items[static_cast<size_t>(row)];
        id cell = msg<id>(msg<id>(uikit::tableViewCellClass(), "alloc"_sel),
                          "initWithStyle:reuseIdentifier:"_sel, long{UITableViewCellStyleDefault},
                          static_cast<id>("SidebarCell"_ns));
        id collection = msg<id>(item, "collection"_sel);
        msg<void>(msg<id>(cell, "textLabel"_sel), "setText:"_sel, msg<id>(item, "title"_sel));
        msg<void>(msg<id>(cell, "imageView"_sel), "setImage:"_sel,
                  msg<id>(uikit::imageClass(), "systemImageNamed:"_sel,
                          foundation::makeString(albumSymbol(collection))));
        if (showsAlbum(sidebar->secondaryNavigationController, collection)) {
          msg<void>(cell, "setBackgroundColor:"_sel, uikit::namedColor("systemBlueColor"));
          msg<void>(msg<id>(cell, "textLabel"_sel), "setTextColor:"_sel,
                    uikit::namedColor("whiteColor"));
          msg<void>(cell, "setTintColor:"_sel, uikit::namedColor("whiteColor"));
        }
        return objc_autorelease(cell);
      });
  addMethod(
      cls, "_navigateToDestinationForItem:sameItem:completionHandler:"_sel,
      +[](id self, SEL, id item, BOOL same_item, id completion_handler) {
        // The handler is checked before anything moves, so a wrong
        // block fails loudly instead of after a half navigation.
        Block<void()>* handler = block_cast<void()>(completion_handler);
        Strong<objc_object> keep_handler(completion_handler);
        id navigation =
            static_cast<PUSidebarViewController*>(self)->secondaryNavigationController.get();
        id collection = msg<id>(item, "collection"_sel);
        // An item that stands for no album shows nothing new, but the
        // navigation is still over, so the handler runs.
        if (collection != nullptr && !(same_item && showsAlbum(navigation, collection))) {
          msg<id>(navigation, "popToRootViewControllerAnimated:"_sel, NO);
          Strong<PUAlbumViewController> album = newAlbumViewController(collection);
          msg<void>(navigation, "pushViewController:animated:"_sel, album.get(), NO);
        }
        if (handler != nullptr) handler->call();
      });
  return cls;
}

}  // namespace

Class albumsViewControllerClass() {
  static Class cls = defineAlbumsViewController();
  return cls;
}
Class albumViewControllerClass() {
  static Class cls = defineAlbumViewController();
  return cls;
}
Class sidebarItemClass() {
  static Class cls = defineSidebarItem();
  return cls;
}
Class sidebarViewControllerClass() {
  static Class cls = defineSidebarViewController();
  return cls;
}

Strong<PUAlbumsGadgetViewController> newAlbumsViewController(NSArray* collections) {
  auto albums = newInstance<PUAlbumsGadgetViewController>(albumsViewControllerClass());
  msg<void>(albums, "setTitle:"_sel, "Albums"_ns);
  albums->gadget = newListGadget(collections);
  uikit::addChild(albums, albums->gadget);
  return albums;
}

Strong<PUAlbumViewController> newAlbumViewController(id collection) {
  auto album = newInstance<PUAlbumViewController>(albumViewControllerClass());
  album->collection = collection;
  msg<void>(album, "setTitle:"_sel, msg<id>(collection, "localizedTitle"_sel));
  return album;
}

Strong<PUSidebarViewController> newSidebarViewController(NSArray* collections,
                                                         id secondary_navigation_controller) {
  auto sidebar = newInstance<PUSidebarViewController>(sidebarViewControllerClass());
  msg<void>(sidebar, "setTitle:"_sel, "Photos"_ns);
  Strong<NSArray> items = foundation::newArray();
  if (collections != nullptr) {
    for (const auto& collection : collections->items) {
      auto item = newInstance<PUSidebarItem>(sidebarItemClass());
      item->collection = collection;
      items->items.emplace_back(item.get());
    }
  }
  sidebar->items = items;
  sidebar->secondaryNavigationController = secondary_navigation_controller;
  return sidebar;
}

bool showsAlbum(id navigation, id collection) {
  id top = msg<id>(navigation, "topViewController"_sel);
  return top != nullptr && msg<BOOL>(top, "isKindOfClass:"_sel, albumViewControllerClass()) &&
         msg<id>(top, "collection"_sel) == collection;
}

id sidebarItemTitled(PUSidebarViewController* sidebar, std::string_view title) {
  if (!sidebar->items) return nullptr;
  for (const auto& item : sidebar->items->items) {
    if (foundation::stdString(msg<id>(item, "title"_sel)) == title) return item.get();
  }
  return nullptr;
}

}  // namespace photos

#include "platform/photos/view_controllers.h"

#include "platform/foundation/nsstring.h"
#include "platform/objc/block.h"
#include "platform/uikit/uinavigationcontroller.h"

namespace photos {
namespace {

template <class T>
Strong<T> newInstance(Class cls) {
  return adopt(static_cast<T*>(msg<id>(msg<id>(cls, "alloc"_sel), "init"_sel)));
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
  return cls;
}

Class defineAlbumViewController() {
  Class cls = objc::defineClass<PUAlbumViewController>("PUAlbumViewController",
                                                       uikit::viewControllerClass());
  addMethod(
      cls, "collection"_sel, +[](id self, SEL) -> id {
        return static_cast<PUAlbumViewController*>(self)->collection.get();
      });
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

#include "platform/photos/list_gadget.h"

#include "platform/foundation/device.h"
#include "platform/foundation/nsstring.h"
#include "platform/photos/asset_collection.h"
#include "platform/photos/list_items.h"
#include "platform/photos/view_controllers.h"
#include "platform/uikit/nsattributedstring.h"
#include "platform/uikit/uicolor.h"

namespace photos {
namespace {

PXNavigationListGadget* gadgetOf(id self) { return static_cast<PXNavigationListGadget*>(self); }

// Fills a row: the item's title, and its count as the badge's plain text.
// Everything goes through the runtime, as a cell's own methods would.
void fillCell(id cell, id item, id text_color) {
  if (cell == nullptr || !msg<BOOL>(cell, "isKindOfClass:"_sel, listCellClass())) return;
  id title_label = msg<id>(cell, "titleLabel"_sel);
  msg<void>(title_label, "setText:"_sel, msg<id>(item, "title"_sel));
  if (text_color != nullptr) msg<void>(title_label, "setTextColor:"_sel, text_color);
  long long count = msg<long long>(item, "itemCount"_sel);
  Strong<NSAttributedString> badge_text = uikit::newAttributedString(std::to_string(count));
  id badge_label = msg<id>(msg<id>(cell, "badge"_sel), "badgeTextLabel"_sel);
  msg<void>(badge_label, "setAttributedText:"_sel, badge_text.get());
}

Class defineListGadget() {
  Class cls = objc::defineClass<PXNavigationListGadget>("PXNavigationListGadget",
                                                        uikit::viewControllerClass());
  addMethod(
      cls, "listItems"_sel, +[](id self, SEL) -> id { return gadgetOf(self)->listItems.get(); });
  addMethod(
      cls, "_navigateTolistItem:animated:"_sel, +[](id self, SEL, id item, BOOL animated) -> id {
        id navigation = msg<id>(self, "navigationController"_sel);
        id collection = msg<id>(item, "collection"_sel);
        // A row that stands for no album has nothing to open.
        if (navigation == nullptr || collection == nullptr) return nullptr;
        Strong<PUAlbumViewController> album = newAlbumViewController(collection);
        msg<void>(navigation, "pushViewController:animated:"_sel, album.get(), animated);
        return album.autorelease();
      });
  // The album list's table asks the gadget for its rows.
  addMethod(
      cls, "numberOfSectionsInTableView:"_sel, +[](id, SEL, id) -> long { return 1; });
  addMethod(
      cls, "tableView:numberOfRowsInSection:"_sel, +[](id self, SEL, id, long) -> long {
        return static_cast<long>(gadgetOf(self)->listItems->items.size());
      });
  addMethod(
      cls, "tableView:cellForRowAtIndexPath:"_sel, +[](id self, SEL, id, id path) -> id {
        long row = msg<long>(path, "row"_sel);
        auto& items = gadgetOf(self)->listItems->items;
        if (row < 0 || static_cast<size_t>(row) >= items.size()) return nullptr;
        id item = items[static_cast<size_t>(row)];
        Strong<PXNavigationListCell> cell = newConfiguredCell(gadgetOf(self), item);
        id icon = msg<id>(cell, "imageView"_sel);
        msg<void>(icon, "setImage:"_sel,
                  msg<id>(uikit::imageClass(), "systemImageNamed:"_sel,
                          foundation::makeString(albumSymbol(msg<id>(item, "collection"_sel)))));
        msg<void>(cell, "setAccessoryType:"_sel, long{UITableViewCellAccessoryDisclosureIndicator});
        return cell.autorelease();
      });
  if (hasCellConfiguration(device::readConfig().systemVersion)) {
    addMethod(
        cls, "_configureCell:forListItem:textColor:"_sel,
        +[](id, SEL, id cell, id item, id text_color) { fillCell(cell, item, text_color); });
  }
  addMethod(
      cls, "description"_sel, +[](id self, SEL) -> id {
        unsigned long count = msg<unsigned long>(gadgetOf(self)->listItems, "count"_sel);
        return foundation::makeString("<PXNavigationListGadget " + std::to_string(count) +
                                      " items>");
      });
  return cls;
}

}  // namespace

bool hasCellConfiguration(std::string_view system_version) {
  // The platform reads the version through floatValue: "16.4.1" is 16.4.
  return static_cast<float>(foundation::stringDoubleValue(system_version)) >= 15.0f;
}

Class listGadgetClass() {
  static Class cls = defineListGadget();
  return cls;
}

Strong<PXNavigationListGadget> newListGadget(NSArray* collections) {
  auto gadget = adopt(static_cast<PXNavigationListGadget*>(
      msg<id>(msg<id>(listGadgetClass(), "alloc"_sel), "init"_sel)));
  gadget->collections = collections;
  gadget->listItems = foundation::newArray();
  return gadget;
}

void reloadListItems(PXNavigationListGadget* gadget) {
  Strong<NSArray> items = foundation::newArray({}, /*mutable_=*/true);
  if (gadget->collections) {
    for (const auto& collection : gadget->collections->items) {
      long long count = msg<long long>(collection, "estimatedAssetCount"_sel);
      Strong<objc_object> item = newListItem(collection, count);
      if (item) msg<void>(items, "addObject:"_sel, item.get());
    }
  }
  gadget->listItems = adopt(static_cast<NSArray*>(msg<id>(items, "copy"_sel)));
}

Strong<PXNavigationListCell> newConfiguredCell(PXNavigationListGadget* gadget, id item) {
  Strong<PXNavigationListCell> cell = newListCell();
  id text_color = msg<id>(uikit::colorClass(), "labelColor"_sel);
  if (respondsTo(gadget, "_configureCell:forListItem:textColor:"_sel)) {
    msg<void>(gadget, "_configureCell:forListItem:textColor:"_sel, cell.get(), item, text_color);
  } else {
    fillCell(cell, item, text_color);
  }
  return cell;
}

std::vector<std::string> drawList(PXNavigationListGadget* gadget) {
  objc::AutoreleasePool pool;
  reloadListItems(gadget);
  std::vector<std::string> lines;
  for (const auto& item : gadget->listItems->items) {
    Strong<PXNavigationListCell> cell = newConfiguredCell(gadget, item);
    lines.push_back("album " + cellTitle(cell) + ": " + cellBadgeText(cell));
  }
  return lines;
}

const char* albumSymbol(id collection) {
  if (collection == nullptr || !msg<BOOL>(collection, "isKindOfClass:"_sel, assetCollectionClass()))
    return "rectangle.stack";
  switch (static_cast<PHAssetCollection*>(collection)->kind) {
    case AlbumKind::kRecents:
      return "photo.on.rectangle";
    case AlbumKind::kFavorites:
      return "heart";
    case AlbumKind::kHidden:
      return "eye.slash";
    case AlbumKind::kRecentlyDeleted:
      return "trash";
    default:
      return "rectangle.stack";
  }
}

id listItemTitled(PXNavigationListGadget* gadget, std::string_view title) {
  if (!gadget->listItems) return nullptr;
  for (const auto& item : gadget->listItems->items) {
    if (foundation::stdString(msg<id>(item, "title"_sel)) == title) return item.get();
  }
  return nullptr;
}

}  // namespace photos

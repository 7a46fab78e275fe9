#include "tests/phone/host_apps.h"

namespace velmo::phone {

PhotosApp::PhotosApp(PhoneModel& phone) : phone_(phone) {
  Runtime& rt = phone.objc;
  rt.DefineClass("PHAssetCollection")
      .Method("px_isHiddenSmartAlbum", "B@:",
              [this, &rt](Msg& m) -> Value {
                questions_.push_back("hidden");
                return rt.Fields(m.self()).values["hidden"];
              })
      .Method("px_isRecentlyDeletedSmartAlbum", "B@:", [this, &rt](Msg& m) -> Value {
        questions_.push_back("recentlyDeleted");
        return rt.Fields(m.self()).values["recentlyDeleted"];
      });
  rt.DefineClass("PXNavigationListItem").Property("collection");
  rt.DefineClass("PXNavigationListAssetCollectionItem", "PXNavigationListItem")
      .Method("initWithAssetCollection:itemCount:", "@@:@q", [this, &rt](Msg& m) -> Value {
        item_inits_.push_back({m.self(), m.U(0), 0, 0, m.I(1)});
        rt.SetField(m.self(), "collection", m.U(0));
        rt.Fields(m.self()).values["itemCount"] = m.I(1);
        return m.self();
      });
  rt.DefineClass("PXBadgeView", "UIView").Property("badgeTextLabel");
  rt.DefineClass("PXNavigationListCell", "UITableViewCell")
      .Method("valueForKey:", "@@:@", [&rt](Msg& m) -> Value {
        std::string key = m.Str(0);
        if (key != "badge") throw ModelError("-[PXNavigationListCell valueForKey:] of " + key);
        return rt.Field(m.self(), "badge");
      });
  rt.DefineClass("PXNavigationListGadget", "UIViewController")
      .Method("_navigateTolistItem:animated:", "@@:@B",
              [this, &rt](Msg& m) -> Value {
                uint64_t result = rt.Autorelease(rt.AllocObject(&rt.Class("UIViewController")));
                list_.push_back({m.self(), m.U(0), m.B(1), result, phone_.dispatch.on_main()});
                return result;
              })
      .Method("_configureCell:forListItem:textColor:", "v@:@@@", [this, &rt](Msg& m) -> Value {
        configured_.push_back({m.self(), m.U(0), m.U(1), m.U(2), 0});
        // The host shows the album's count in the badge.
        uint64_t text = rt.Send(rt.Send(rt.Class("NSAttributedString").address, "alloc").u,
                                "initWithString:", {phone_.foundation.String("12")})
                            .u;
        rt.Send(BadgeLabel(m.U(0)), "setAttributedText:", {text});
        rt.Release(text);
        return {};
      });
  rt.DefineClass("PUSidebarViewController", "UIViewController")
      .Method("_navigateToDestinationForItem:sameItem:completionHandler:", "v@:@B@?",
              [this](Msg& m) -> Value {
                sidebar_.push_back({m.self(), m.U(0), m.B(1), m.U(2), phone_.dispatch.on_main()});
                return {};
              });
  rt.DefineClass("PUAlbumsGadgetViewController", "UIViewController")
      .Method("_applicationDidEnterBackground:", "v@:@", [this](Msg& m) -> Value {
        backgrounds_.push_back({m.self(), m.U(0), 0, 0, 0});
        return {};
      });
}

uint64_t PhotosApp::NewObject(const std::string& cls) {
  return phone_.objc.Autorelease(phone_.objc.AllocObject(&phone_.objc.Class(cls)));
}

uint64_t PhotosApp::Collection(Album album) {
  uint64_t c = NewObject("PHAssetCollection");
  auto& values = phone_.objc.Fields(c).values;
  values["hidden"] = album == Album::kHidden;
  values["recentlyDeleted"] = album == Album::kRecentlyDeleted;
  return c;
}

uint64_t PhotosApp::ListItem(Album album) {
  uint64_t item = NewObject("PXNavigationListItem");
  phone_.objc.SetField(item, "collection", Collection(album));
  return item;
}

uint64_t PhotosApp::Cell() {
  uint64_t cell = NewObject("PXNavigationListCell");
  uint64_t badge = NewObject("PXBadgeView");
  phone_.objc.SetField(badge, "badgeTextLabel", NewObject("UILabel"));
  phone_.objc.SetField(cell, "badge", badge);
  return cell;
}

uint64_t PhotosApp::BadgeLabel(uint64_t cell) {
  return phone_.objc.Field(phone_.objc.Field(cell, "badge"), "badgeTextLabel");
}

PrivacyDaemon::PrivacyDaemon(PhoneModel& phone) : phone_(phone) {
  phone.objc.DefineClass("TCCDService")
      .Property("name")
      .Method("setDefaultAllowedIdentifiersList:", "v@:@", [this](Msg& m) -> Value {
        AllowList a;
        a.service = m.self();
        a.list = m.U(0);
        if (m.U(0) != 0) {
          a.list_class = phone_.objc.ClassOfObject(m.U(0))->name;
          for (uint64_t item : phone_.foundation.Items(m.U(0)))
            a.identifiers.push_back(phone_.objc.StringValue(item));
        }
        allow_lists_.push_back(a);
        return {};
      });
}

uint64_t PrivacyDaemon::Service(const std::string& name) {
  uint64_t service =
      phone_.objc.Autorelease(phone_.objc.AllocObject(&phone_.objc.Class("TCCDService")));
  phone_.objc.SetField(service, "name", phone_.foundation.String(name));
  return service;
}

}  // namespace velmo::phone

// VelmoPreferences from the phone package, emulated: the controller class
// it makes at load, its specifiers, the option rows' change notification,
// the master switch's write and restart of Photos, and the header and
// title views with their constraints.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/phone/velmo/velmo_fixture.h"

namespace velmo::phone {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class PaneTest : public VelmoTest {
 protected:
  void SetUp() override {
    VelmoTest::SetUp();
    phone.foundation.SetMainBundle("com.apple.Preferences");
    phone.Load(phone.files.HostPath(std::string(kBundlePath) + "/VelmoPreferences"));
  }
  void TearDown() override {
    if (controller_ != 0) phone.objc.Release(controller_);
    VelmoTest::TearDown();
  }
  // alloc/init, as the Settings app opens the pane.
  uint64_t Open() {
    uint64_t cls = phone.objc.Class("VLPRootListController").address;
    controller_ = phone.objc.Send(phone.objc.Send(cls, "alloc").u, "init").u;
    return controller_;
  }
  uint64_t Get(const std::string& property) { return phone.objc.Send(controller_, property).u; }
  const std::string& ClassName(uint64_t object) { return phone.objc.ClassOfObject(object)->name; }
  uint64_t Specifier(const std::string& key) {
    for (uint64_t s : phone.foundation.Items(Get("specifiers"))) {
      uint64_t k = phone.foundation.Lookup(phone.objc.Field(s, "properties"), "key");
      if (k != 0 && phone.objc.StringValue(k) == key) return s;
    }
    ADD_FAILURE() << "no specifier for " << key;
    return 0;
  }
  void ExpectOneChangePost() {
    ASSERT_EQ(phone.notify.posts().size(), 1u);
    const NotifyCenter::Post& p = phone.notify.posts()[0];
    EXPECT_EQ(p.name, kChanged);
    EXPECT_EQ(p.object, 0u);
    EXPECT_EQ(p.user_info, 0u);
    EXPECT_TRUE(p.deliver_immediately);
  }
  std::string domain_ = DeviceFiles::DomainPath("com.qel.velmopreferences");
  uint64_t controller_ = 0;
};

TEST_P(PaneTest, TheControllerClassIsRegisteredAsASubclassOfPSListController) {
  ObjcClass* cls = phone.objc.FindClass("VLPRootListController");
  ASSERT_NE(cls, nullptr);
  EXPECT_TRUE(cls->made_by_image);
  EXPECT_EQ(cls->super, &phone.objc.Class("PSListController"));
  std::vector<std::string> ivars;
  for (const auto& ivar : cls->ivars) ivars.push_back(ivar.name + " " + ivar.types);
  EXPECT_THAT(ivars, ElementsAre("_headerView @", "_item @", "_enableSwitch @", "_titleLabel @",
                                 "_headerImageView @"));
  // Its own instance variables come after the base class's.
  EXPECT_GT(cls->ivars[0].offset, phone.preferences.specifiers_offset());
}

TEST_P(PaneTest, TheSpecifiersLoadRootOnce) {
  Open();
  uint64_t first = Get("specifiers");
  EXPECT_EQ(Get("specifiers"), first);
  ASSERT_EQ(phone.preferences.loads().size(), 1u);
  EXPECT_EQ(phone.preferences.loads()[0].name, "Root");
  EXPECT_EQ(phone.preferences.loads()[0].target, controller_);
  for (const char* key : {"lockRecentlyDeleted", "popToRoot", "showLockIcon",
                          "hiddenItemCountEnabled", "hiddenItemCount"})
    EXPECT_NE(Specifier(key), 0u);
}

TEST_P(PaneTest, AnOptionChangeIsStoredAndPostsTheNotificationOnce) {
  Open();
  phone.objc.Send(controller_, "setPreferenceValue:specifier:",
                  {phone.foundation.Bool(true), Specifier("showLockIcon")});
  EXPECT_EQ(phone.preferences.stored().size(), 1u);
  EXPECT_EQ(phone.files.ReadPlist(domain_)["showLockIcon"], DeviceFiles::PlistValue(true));
  ExpectOneChangePost();
  EXPECT_THAT(phone.spawn.spawns(), IsEmpty());
}

TEST_P(PaneTest, OpeningTheViewShowsTheStoredSwitchAndPostsOnce) {
  phone.files.WritePlist(domain_, {{"enabled", true}});
  Open();
  phone.objc.Send(controller_, "viewDidLoad");
  EXPECT_EQ(phone.preferences.view_did_load_calls(), 1);
  ASSERT_EQ(phone.uikit.switch_sets().size(), 1u);
  EXPECT_EQ(phone.uikit.switch_sets()[0].control, Get("enableSwitch"));
  EXPECT_TRUE(phone.uikit.switch_sets()[0].on);
  EXPECT_FALSE(phone.uikit.switch_sets()[0].animated);
  ExpectOneChangePost();
}

TEST_P(PaneTest, TheMasterSwitchWritesEnabledAndRestartsPhotos) {
  Open();
  uint64_t control = Get("enableSwitch");
  phone.objc.Fields(control).values["on"] = true;  // the user turned it on
  phone.objc.Send(controller_, "enableSwitchChanged");
  EXPECT_EQ(phone.files.ReadPlist(domain_)["enabled"], DeviceFiles::PlistValue(true));
  EXPECT_EQ(phone.files.synchronizations(), 1u);
  ASSERT_EQ(phone.uikit.switch_sets().size(), 1u);
  EXPECT_TRUE(phone.uikit.switch_sets()[0].on);
  EXPECT_TRUE(phone.uikit.switch_sets()[0].animated);
  EXPECT_THAT(phone.notify.posts(), IsEmpty());
  // The restart waits for the main queue.
  EXPECT_THAT(phone.spawn.spawns(), IsEmpty());
  EXPECT_EQ(phone.dispatch.DrainMain(), 1u);
  ASSERT_EQ(phone.spawn.spawns().size(), 1u);
  const SpawnRecorder::Spawn& s = phone.spawn.spawns()[0];
  EXPECT_EQ(s.path, "/var/jb/usr/bin/killall");
  EXPECT_THAT(s.argv, ElementsAre("killall", "-9", "MobileSlideShow"));
  EXPECT_FALSE(s.envp.has_value()) << "a null environment";
  EXPECT_EQ(s.file_actions, 0u);
  EXPECT_EQ(s.attributes, 0u);
  phone.dispatch.DrainBackground();

  // Off, and a killall that cannot start: the value is written all the same.
  phone.objc.Fields(control).values["on"] = false;
  phone.spawn.set_result(2);
  phone.objc.Send(controller_, "enableSwitchChanged");
  EXPECT_EQ(phone.files.ReadPlist(domain_)["enabled"], DeviceFiles::PlistValue(false));
  phone.dispatch.DrainMain();
  EXPECT_EQ(phone.spawn.spawns().size(), 2u);
  EXPECT_EQ(phone.dispatch.pending_background(), 0u);
}

TEST_P(PaneTest, InitBuildsTheHeaderAndTitleViews) {
  Open();
  uint64_t navigation_item = Get("navigationItem");
  uint64_t title_view = phone.objc.Field(navigation_item, "titleView");
  uint64_t control = Get("enableSwitch"), item = Get("item"), label = Get("titleLabel");
  uint64_t header = Get("headerView"), image_view = Get("headerImageView");
  EXPECT_EQ(ClassName(title_view), "UIView");
  EXPECT_EQ(ClassName(control), "UISwitch");
  EXPECT_EQ(ClassName(item), "UIBarButtonItem");
  EXPECT_EQ(ClassName(label), "UILabel");
  EXPECT_EQ(ClassName(header), "UIView");
  EXPECT_EQ(ClassName(image_view), "UIImageView");

  // The switch: wired to the controller, in the accent colour.
  auto& sw = phone.objc.Fields(control).values;
  EXPECT_EQ(sw["target"].u, controller_);
  EXPECT_EQ(phone.objc.SelName(sw["action"].u), "enableSwitchChanged");
  EXPECT_EQ(sw["events"].u, 4096u);
  for (const char* which : {"tintColor", "onTintColor"}) {
    auto& c = phone.objc.Fields(phone.objc.Field(control, which)).values;
    EXPECT_EQ(c["red"].d[0], 1.0) << which;
    EXPECT_DOUBLE_EQ(c["green"].d[0], 105.0 / 255.0) << which;
    EXPECT_DOUBLE_EQ(c["blue"].d[0], 180.0 / 255.0) << which;
    EXPECT_EQ(c["alpha"].d[0], 1.0) << which;
  }
  EXPECT_EQ(phone.objc.Field(item, "customView"), control);
  EXPECT_EQ(phone.objc.Field(navigation_item, "rightBarButtonItem"), item);

  // The title.
  auto& l = phone.objc.Fields(label).values;
  EXPECT_EQ(l["frame"].d, (std::array<double, 4>{0, 0, 10, 10}));
  EXPECT_EQ(phone.objc.StringValue(phone.objc.Field(label, "text")), "Velmo");
  EXPECT_EQ(phone.objc.Field(label, "textColor"), phone.uikit.SystemColor("labelColor"));
  auto& font = phone.objc.Fields(phone.objc.Field(label, "font")).values;
  EXPECT_EQ(font["size"].d[0], 18.0);
  EXPECT_EQ(l["textAlignment"].u, 1u);
  EXPECT_EQ(l["translatesAutoresizingMaskIntoConstraints"].u, 0u);
  EXPECT_TRUE(l.count("translatesAutoresizingMaskIntoConstraints"));
  EXPECT_EQ(l["superview"].u, title_view);

  // The header and its shadowed image.
  EXPECT_EQ(phone.objc.Fields(header).values["frame"].d, (std::array<double, 4>{0, 0, 200, 150}));
  auto& iv = phone.objc.Fields(image_view).values;
  EXPECT_EQ(iv["frame"].d, (std::array<double, 4>{0, 0, 200, 150}));
  EXPECT_EQ(iv["contentMode"].u, 1u);
  EXPECT_TRUE(iv.count("translatesAutoresizingMaskIntoConstraints"));
  EXPECT_EQ(iv["translatesAutoresizingMaskIntoConstraints"].u, 0u);
  EXPECT_EQ(iv["superview"].u, header);
  uint64_t image = phone.objc.Field(image_view, "image");
  ASSERT_NE(image, 0u);
  EXPECT_EQ(phone.objc.StringValue(phone.objc.Field(image, "path")),
            std::string(kBundlePath) + "/velmo.png");
  auto& layer = phone.objc.Fields(phone.objc.Field(image_view, "layer")).values;
  EXPECT_EQ(layer["shadowColor"].u,
            phone.objc.Send(phone.uikit.SystemColor("labelColor"), "CGColor").u);
  EXPECT_EQ(layer["shadowOffset"].d[0], 0.0);
  EXPECT_EQ(layer["shadowOffset"].d[1], 0.0);
  EXPECT_EQ(layer["shadowOpacity"].d[0], static_cast<double>(0.3f));
  EXPECT_EQ(layer["shadowRadius"].d[0], 10.0);

  // Eight constraints, activated together, in order.
  ASSERT_EQ(phone.uikit.activations().size(), 1u);
  std::vector<std::string> c;
  auto name = [&](uint64_t view) {
    return view == label        ? "label"
           : view == title_view ? "titleView"
           : view == image_view ? "image"
           : view == header     ? "header"
                                : "?";
  };
  for (const UIKit::Constraint& k : phone.uikit.activations()[0])
    c.push_back(std::string(name(k.first_view)) + "." + k.first_attribute + "=" +
                (k.second_view ? std::string(name(k.second_view)) + "." + k.second_attribute
                               : std::to_string(static_cast<int>(k.constant))));
  EXPECT_THAT(c, ElementsAre("label.topAnchor=titleView.topAnchor",
                             "label.leadingAnchor=titleView.leadingAnchor",
                             "label.trailingAnchor=titleView.trailingAnchor",
                             "label.bottomAnchor=titleView.bottomAnchor", "image.widthAnchor=125",
                             "image.heightAnchor=125", "image.centerXAnchor=header.centerXAnchor",
                             "image.centerYAnchor=header.centerYAnchor"));
}

TEST_P(PaneTest, AMissingHeaderImageLeavesTheImageViewEmpty) {
  phone.files.Remove(std::string(kBundlePath) + "/velmo.png");
  Open();
  EXPECT_EQ(phone.objc.Field(Get("headerImageView"), "image"), 0u);
  EXPECT_EQ(phone.uikit.activations().size(), 1u);
}

TEST_P(PaneTest, ANilFromTheBaseClassInitBuildsNothing) {
  phone.preferences.set_init_fails(true);
  EXPECT_EQ(Open(), 0u);
  EXPECT_THAT(phone.uikit.activations(), IsEmpty());
}

TEST_P(PaneTest, EachCellPutsTheHeaderOnTheTable) {
  Open();
  uint64_t table = phone.objc.Autorelease(phone.objc.AllocObject(&phone.objc.Class("UITableView")));
  uint64_t index_path =
      phone.objc.Autorelease(phone.objc.AllocObject(&phone.objc.Class("NSObject")));
  uint64_t cell =
      phone.objc.Send(controller_, "tableView:cellForRowAtIndexPath:", {table, index_path}).u;
  ASSERT_EQ(phone.preferences.cells().size(), 1u);
  EXPECT_EQ(cell, phone.preferences.cells()[0]);
  EXPECT_EQ(phone.objc.Field(table, "tableHeaderView"), Get("headerView"));
}

VELMO_ON_EACH_SLICE(PaneTest);

}  // namespace
}  // namespace velmo::phone

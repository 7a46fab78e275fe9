#include "platform/preferences/ps_list_controller.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/foundation/device.h"
#include "platform/foundation/nsnumber.h"
#include "platform/foundation/nsstring.h"
#include "platform/foundation/nsuserdefaults.h"
#include "platform/foundation/test_device_root.h"
#include "platform/preferences/ps_table_cell.h"
#include "platform/uikit/uikit.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kBundle = "/var/jb/Library/PreferenceBundles/Test.bundle";
constexpr const char* kDomain = "com.example.preferences-test";

const char kList[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
  <key>title</key><string>Test Pane</string>
  <key>items</key><array>
    <dict><key>cell</key><string>PSGroupCell</string><key>label</key><string>First</string>
          <key>footerText</key><string>About the first group.</string></dict>
    <dict><key>cell</key><string>PSSwitchCell</string><key>key</key><string>flag</string>
          <key>defaults</key><string>com.example.preferences-test</string>
          <key>label</key><string>Flag</string><key>default</key><true/></dict>
    <string>not a row</string>
    <dict><key>cell</key><string>PSEditTextCell</string><key>key</key><string>count</string>
          <key>defaults</key><string>com.example.preferences-test</string>
          <key>label</key><string>Count</string><key>default</key><string>5</string></dict>
    <dict><key>cell</key><string>PSGroupCell</string></dict>
    <dict><key>cell</key><string>PSSwitchCell</string><key>key</key><string>homeless</string>
          <key>label</key><string>No Domain</string></dict>
    <dict><key>cell</key><string>PSMysteryCell</string><key>label</key><string>About</string></dict>
  </array>
</dict></plist>
)";

class ListControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::testDeviceRoot();
    fs::create_directories(device::devicePath(kBundle));
    fs::create_directories(device::devicePath("/var/jb/var/mobile/Library/Preferences"));
    std::ofstream(device::devicePath(std::string(kBundle) + "/List.plist")) << kList;
    std::ofstream(device::devicePath(std::string(kBundle) + "/Broken.plist"))
        << "<plist><dict><key>";
    std::error_code ec;
    fs::remove(device::devicePath(foundation::preferencesPath(kDomain)), ec);

    controller_ = allocInit<PSListController>(preferences::listControllerClass());
    msg<void>(controller_, "setBundle:"_sel,
              msg<id>(foundation::bundleClass(), "bundleWithPath:"_sel,
                      static_cast<id>(foundation::makeString(kBundle))));
    msg<id>(controller_, "view"_sel);
  }

  id load(const char* name) {
    return msg<id>(controller_, "loadSpecifiersFromPlistName:target:"_sel,
                   static_cast<id>(foundation::makeString(name)), static_cast<id>(controller_));
  }

  void useList() { msg<void>(controller_, "setSpecifiers:"_sel, load("List")); }

  PSSpecifier* row(const char* id_) {
    return static_cast<PSSpecifier*>(
        msg<id>(controller_, "specifierForID:"_sel, static_cast<id>(foundation::makeString(id_))));
  }

  id cellAt(long section, long row_) {
    id path = msg<id>(uikit::indexPathClass(), "indexPathForRow:inSection:"_sel, row_, section);
    return msg<id>(controller_, "tableView:cellForRowAtIndexPath:"_sel,
                   static_cast<id>(controller_->table), path);
  }

  id stored(const char* key) {
    id defaults = msg<id>(foundation::userDefaultsClass(), "standardUserDefaults"_sel);
    return msg<id>(defaults, "objectForKey:inDomain:"_sel,
                   static_cast<id>(foundation::makeString(key)),
                   static_cast<id>(foundation::makeString(kDomain)));
  }

  objc::AutoreleasePool pool_;
  Strong<PSListController> controller_;
};

TEST_F(ListControllerTest, RowsOfTheBundlesListBecomeSpecifiersInSections) {
  id list = load("List");
  ASSERT_TRUE(foundation::isArray(list));
  ASSERT_EQ(static_cast<NSArray*>(list)->items.size(), 6u) << "the string item is no row";
  for (const auto& item : static_cast<NSArray*>(list)->items) {
    EXPECT_EQ(static_cast<PSSpecifier*>(item.get())->target, controller_.get());
  }
  EXPECT_EQ(foundation::stdString(msg<id>(controller_, "title"_sel)), "Test Pane");

  EXPECT_EQ(msg<id>(controller_, "specifiers"_sel), nullptr) << "loading does not fill the storage";
  msg<void>(controller_, "setSpecifiers:"_sel, list);
  id table = controller_->table;
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(msg<id>(table, "dataSource"_sel), static_cast<id>(controller_));
  ASSERT_EQ(msg<long>(controller_, "numberOfSectionsInTableView:"_sel, table), 2);
  EXPECT_EQ(msg<long>(controller_, "tableView:numberOfRowsInSection:"_sel, table, 0L), 2);
  EXPECT_EQ(msg<long>(controller_, "tableView:numberOfRowsInSection:"_sel, table, 1L), 2);
  EXPECT_EQ(msg<long>(controller_, "tableView:numberOfRowsInSection:"_sel, table, 7L), 0);
  EXPECT_EQ(foundation::stdString(
                msg<id>(controller_, "tableView:titleForHeaderInSection:"_sel, table, 0L)),
            "First");
  EXPECT_EQ(foundation::stdString(
                msg<id>(controller_, "tableView:titleForFooterInSection:"_sel, table, 0L)),
            "About the first group.");
  EXPECT_EQ(msg<id>(controller_, "tableView:titleForFooterInSection:"_sel, table, 1L), nullptr);

  EXPECT_EQ(row("flag")->cellType, PSSwitchCell);
  EXPECT_EQ(row("count")->cellType, PSEditTextCell);
  EXPECT_EQ(row("About")->cellType, PSStaticTextCell) << "an unknown cell shows its label only";
}

TEST_F(ListControllerTest, AMissingOrBrokenListGivesNoRows) {
  for (const char* name : {"Missing", "Broken"}) {
    id list = load(name);
    ASSERT_TRUE(foundation::isArray(list)) << name;
    EXPECT_EQ(static_cast<NSArray*>(list)->items.size(), 0u) << name;
  }
  msg<void>(controller_, "setBundle:"_sel, static_cast<id>(nullptr));
  EXPECT_EQ(static_cast<NSArray*>(load("List"))->items.size(), 0u);
}

TEST_F(ListControllerTest, AValueIsReadFromTheRowsDomainElseItsDefaultAndStoredThere) {
  useList();
  id flag = row("flag");
  EXPECT_EQ(msg<id>(controller_, "readPreferenceValue:"_sel, flag),
            static_cast<id>(foundation::trueValue()));

  msg<void>(controller_, "setPreferenceValue:specifier:"_sel,
            static_cast<id>(foundation::falseValue()), flag);
  EXPECT_TRUE(fs::exists(device::devicePath(foundation::preferencesPath(kDomain))));
  EXPECT_FALSE(msg<BOOL>(stored("flag"), "boolValue"_sel));
  EXPECT_FALSE(msg<BOOL>(msg<id>(controller_, "readPreferenceValue:"_sel, flag), "boolValue"_sel));

  // A row without a domain has nowhere to store: nothing is written.
  id homeless = row("homeless");
  msg<void>(controller_, "setPreferenceValue:specifier:"_sel,
            static_cast<id>(foundation::trueValue()), homeless);
  EXPECT_EQ(msg<id>(controller_, "readPreferenceValue:"_sel, homeless), nullptr);
  EXPECT_EQ(stored("homeless"), nullptr);
  msg<void>(controller_, "setPreferenceValue:specifier:"_sel,
            static_cast<id>(foundation::trueValue()), static_cast<id>(nullptr));
}

TEST_F(ListControllerTest, CellsShowTheValueAndTheOwnersChangesReachTheDomain) {
  useList();
  auto* flag = static_cast<PSSwitchTableCell*>(cellAt(0, 0));
  ASSERT_TRUE(
      msg<BOOL>(flag, "isKindOfClass:"_sel, static_cast<id>(preferences::switchTableCellClass())));
  EXPECT_EQ(uikit::labelText(static_cast<UILabel*>(msg<id>(flag, "textLabel"_sel))), "Flag");
  EXPECT_EQ(preferences::cellValueText(flag), "on") << "the default shows while nothing is stored";
  EXPECT_EQ(msg<id>(flag, "accessoryView"_sel), static_cast<id>(flag->control.get()));

  uikit::userToggle(flag->control, NO);
  id value = stored("flag");
  ASSERT_TRUE(foundation::isNumber(value));
  EXPECT_EQ(static_cast<NSNumber*>(value)->kind, NSNumber::Kind::kBool);
  EXPECT_EQ(preferences::cellValueText(cellAt(0, 0)), "off");

  auto* count = static_cast<PSEditableTableCell*>(cellAt(0, 1));
  EXPECT_EQ(preferences::cellValueText(count), "5");
  preferences::userEnterText(count, "12");
  EXPECT_TRUE(foundation::isString(stored("count")));
  EXPECT_EQ(foundation::stdString(stored("count")), "12");
  EXPECT_EQ(preferences::cellValueText(cellAt(0, 1)), "12");

  EXPECT_EQ(preferences::cellValueText(cellAt(1, 1)), "");
  EXPECT_EQ(cellAt(0, 2), nullptr);
  EXPECT_EQ(cellAt(5, 0), nullptr);
  EXPECT_EQ(cellAt(-1, 0), nullptr);
}

TEST(Sections, RowsBeforeTheFirstGroupFormASectionOfTheirOwn) {
  objc::AutoreleasePool pool;
  auto row = foundation::newDictionary(true);
  msg<void>(row, "setObject:forKey:"_sel, static_cast<id>("PSSwitchCell"_ns),
            static_cast<id>("cell"_ns));
  auto group = foundation::newDictionary(true);
  msg<void>(group, "setObject:forKey:"_sel, static_cast<id>("PSGroupCell"_ns),
            static_cast<id>("cell"_ns));
  auto a = preferences::newSpecifier(row, nullptr);
  auto g = preferences::newSpecifier(group, nullptr);
  auto b = preferences::newSpecifier(row, nullptr);
  auto list = foundation::newArray({a.get(), g.get(), b.get(), "not a specifier"_ns});
  auto sections = preferences::sectionsOf(list);
  ASSERT_EQ(sections.size(), 2u);
  EXPECT_EQ(sections[0].group, nullptr);
  EXPECT_EQ(sections[0].rows, std::vector<PSSpecifier*>{a.get()});
  EXPECT_EQ(sections[1].group, g.get());
  EXPECT_EQ(sections[1].rows, std::vector<PSSpecifier*>{b.get()});
  EXPECT_TRUE(preferences::sectionsOf(nullptr).empty());
}

}  // namespace

// The Photos and Settings programs as a person types at them: help, and a
// mistyped command or album that is answered in one line while the program
// keeps going.
#include <gtest/gtest.h>

#include "tests/support/device_fixture.h"

namespace {

using testing_support::answer;
using testing_support::DeviceTest;
using testing_support::Lines;
using testing_support::where;

// The command names that `help` lists, in order.
Lines helpNames(testing_support::DeviceProcess& p) {
  Lines names;
  for (const std::string& line : answer(p, "help")) {
    size_t begin = line.find_first_not_of(' ');
    names.push_back(line.substr(begin, line.find(' ', begin) - begin));
  }
  return names;
}

class TypingTest : public DeviceTest {};

TEST_F(TypingTest, HelpAndMistakesInBothPrograms) {
  initDevice();
  auto photos = start("photos");
  EXPECT_EQ(helpNames(*photos),
            (Lines{"albums", "tap", "prompt", "answer", "back", "background", "foreground", "where",
                   "screenshot", "views", "touch", "hooks", "vars", "bundles", "quit", "help"}));
  EXPECT_EQ(answer(*photos, "open Hidden"),
            Lines{"error: unknown command \"open\" (type help for the list)"});
  EXPECT_EQ(answer(*photos, "tap hidden"),
            Lines{"error: no album named \"hidden\" (albums lists them)"});
  EXPECT_EQ(answer(*photos, "tap"), Lines{"error: usage: tap <album title>"});
  EXPECT_EQ(answer(*photos, "answer face please"),
            Lines{"error: usage: answer passcode <code> | answer face | answer cancel"});
  EXPECT_EQ(answer(*photos, "tap Family"), Lines{});
  EXPECT_EQ(answer(*photos, "tap Holidays"),
            Lines{"error: the album list is not on screen (back returns to it)"});
  EXPECT_EQ(where(*photos), "where Albums > Family");

  auto settings = start("settings");
  EXPECT_EQ(helpNames(*settings), (Lines{"open", "show", "switch", "set", "screenshot", "views",
                                         "touch", "quit", "help"}));
  EXPECT_EQ(answer(*settings, "tap Hidden"),
            Lines{"error: unknown command \"tap\" (type help for the list)"});
  EXPECT_EQ(answer(*settings, "open velmo"), Lines{"error: no Settings entry labelled \"velmo\""});
  EXPECT_EQ(answer(*settings, "open Velmo"), Lines{});
  EXPECT_NE(photos->waitForLine("notified com.qel.velmopreferences/changed", 5000), "")
      << "the other program's event shows as it happens";

  EXPECT_EQ(answer(*photos, "quit"), Lines{});
  EXPECT_EQ(photos->waitExit(5000), 0);
  EXPECT_EQ(settings->finish(), 0);
}

}  // namespace

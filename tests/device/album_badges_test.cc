// The album list's badges as a real Photos process draws them, on both host
// generations and on iPad, for the options that change them.
#include <gtest/gtest.h>

#include "tests/support/device_fixture.h"

namespace {

using testing_support::answer;
using testing_support::DeviceTest;
using testing_support::enabledWith;
using testing_support::Lines;

const char kLock[] = "[lock.fill systemGrayColor]";

Lines albumList(const std::string& hidden, const std::string& recently_deleted) {
  return {"album Recents: 1204",     "album Favorites: 37",
          "album Holidays: 212",     "album Family: 88",
          "album Hidden: " + hidden, "album Recently Deleted: " + recently_deleted};
}

class AlbumBadgesTest : public DeviceTest {};

TEST_F(AlbumBadgesTest, ProtectedAlbumsShowTheLockOrTheFixedCount) {
  struct Case {
    std::string name;
    std::vector<std::string> flags;
    std::map<std::string, std::string> options;
    Lines albums;
  };
  const std::string count7 = "<integer>7</integer>";
  const Case cases[] = {
      {"16.4.1, lock icon", {}, {{"showLockIcon", "<true/>"}}, albumList(kLock, "5")},
      {"16.4.1, lock icon and Recently Deleted locked",
       {},
       {{"showLockIcon", "<true/>"}, {"lockRecentlyDeleted", "<true/>"}},
       albumList(kLock, kLock)},
      {"16.4.1, lock icon wins over the count",
       {},
       {{"showLockIcon", "<true/>"},
        {"hiddenItemCountEnabled", "<true/>"},
        {"hiddenItemCount", count7}},
       albumList(kLock, "5")},
      {"16.4.1, count 0",
       {},
       {{"hiddenItemCountEnabled", "<true/>"}, {"lockRecentlyDeleted", "<true/>"}},
       albumList("0", "5")},
      {"14.8, count 7",
       {"--system-version", "14.8"},
       {{"hiddenItemCountEnabled", "<true/>"}, {"hiddenItemCount", count7}},
       albumList("7", "5")},
      {"14.8, no lock glyph before 15.0",
       {"--system-version", "14.8"},
       {{"showLockIcon", "<true/>"}, {"lockRecentlyDeleted", "<true/>"}},
       albumList("12", "5")},
      {"iPad, nothing decorated",
       {"--model", "iPad"},
       {{"showLockIcon", "<true/>"},
        {"hiddenItemCountEnabled", "<true/>"},
        {"hiddenItemCount", count7}},
       albumList("12", "5")},
  };
  for (const Case& c : cases) {
    initDevice(c.flags);
    writeSettings(enabledWith(c.options));
    auto photos = start("photos");
    EXPECT_EQ(answer(*photos, "albums"), c.albums) << c.name;
    EXPECT_EQ(photos->finish(), 0) << c.name;
    TearDown();
  }
}

}  // namespace

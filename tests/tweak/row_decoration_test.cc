// The album list's badges with the decoration options: the lock glyph and the
// fixed count on the protected albums' rows, per host generation, and nothing
// on iPad. Each expectation is read from the list as the app draws it.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "platform/photos/photo_library.h"
#include "tests/tweak/tweak_device.h"

namespace tweak_test {
namespace {

constexpr char kLockGlyph[] = "[lock.fill systemGrayColor]";

// The rows as the host draws them by itself: each album's own count.
std::vector<std::string> hostRows() {
  std::vector<std::string> rows;
  for (const photos::AlbumRecord& album : photos::defaultAlbums()) {
    rows.push_back("album " + album.title + ": " + std::to_string(album.count));
  }
  return rows;
}

std::string hostBadge(const std::string& title) {
  for (const photos::AlbumRecord& album : photos::defaultAlbums()) {
    if (album.title == title) return std::to_string(album.count);
  }
  return "";
}

// Every combination of the four switches, with a count that differs from
// every album's own.
std::vector<Options> everyOptionCombination() {
  std::vector<Options> all;
  for (int bits = 0; bits < 16; ++bits) {
    all.push_back({.lockRecentlyDeleted = (bits & 1) != 0,
                   .popToRoot = false,
                   .hiddenItemCountEnabled = (bits & 2) != 0,
                   .showLockIcon = (bits & 4) != 0,
                   .hiddenItemCount = (bits & 8) != 0 ? -3 : 0});
  }
  return all;
}

std::string describe(const Options& o) {
  return std::string("lockRecentlyDeleted ") + (o.lockRecentlyDeleted ? "on" : "off") +
         ", hiddenItemCountEnabled " + (o.hiddenItemCountEnabled ? "on" : "off") +
         ", showLockIcon " + (o.showLockIcon ? "on" : "off") + ", hiddenItemCount " +
         std::to_string(o.hiddenItemCount);
}

class RowDecoration : public TweakTest {
 protected:
  // The rows of the albums that are never protected.
  std::vector<std::string> ordinaryRows(const std::vector<std::string>& rows) {
    std::vector<std::string> ordinary;
    for (const std::string& row : rows) {
      if (row.rfind("album Hidden:", 0) != 0 && row.rfind("album Recently Deleted:", 0) != 0) {
        ordinary.push_back(row);
      }
    }
    return ordinary;
  }

  void expectOrdinaryRowsUntouchedUnderEveryOption() {
    const std::vector<std::string> host = ordinaryRows(hostRows());
    for (const Options& options : everyOptionCombination()) {
      ASSERT_TRUE(changeOptions(options));
      EXPECT_EQ(ordinaryRows(app().albums()), host) << describe(options);
    }
  }
};

// From 15.0 the host configures each row's cell and the badge is changed after it.
class RowDecorationWithCellConfiguration : public RowDecoration {
 protected:
  void SetUp() override {
    if (isPad() || !hasCellConfiguration()) GTEST_SKIP() << "an iPhone from 15.0 only";
    RowDecoration::SetUp();
  }
};

// Before 15.0 only the Hidden album's count can be replaced.
class RowDecorationBeforeCellConfiguration : public RowDecoration {
 protected:
  void SetUp() override {
    if (isPad() || hasCellConfiguration()) GTEST_SKIP() << "an iPhone before 15.0 only";
    RowDecoration::SetUp();
  }
};

class RowDecorationPad : public RowDecoration {
 protected:
  void SetUp() override {
    if (!isPad()) GTEST_SKIP() << "iPad only";
    RowDecoration::SetUp();
  }
};

TEST_F(RowDecorationWithCellConfiguration, WithEveryOptionOffTheHostsRowsStay) {
  EXPECT_EQ(app().albums(), hostRows());
}

TEST_F(RowDecorationWithCellConfiguration, TheLockGlyphWinsOverTheFixedCountOnHidden) {
  ASSERT_TRUE(
      changeOptions({.hiddenItemCountEnabled = true, .showLockIcon = true, .hiddenItemCount = 3}));
  EXPECT_EQ(badge("Hidden"), kLockGlyph);
  EXPECT_EQ(badge("Recently Deleted"), hostBadge("Recently Deleted"));
}

TEST_F(RowDecorationWithCellConfiguration, TheFixedCountAloneShowsOnHiddenAsItIsSet) {
  for (long long count : {0LL, -7LL, 42LL, LLONG_MIN}) {
    ASSERT_TRUE(changeOptions(
        {.lockRecentlyDeleted = true, .hiddenItemCountEnabled = true, .hiddenItemCount = count}));
    EXPECT_EQ(badge("Hidden"), std::to_string(count));
    // Never a fixed count on Recently Deleted, locked or not.
    EXPECT_EQ(badge("Recently Deleted"), hostBadge("Recently Deleted")) << count;
  }
}

TEST_F(RowDecorationWithCellConfiguration, RecentlyDeletedShowsTheGlyphOnlyWhileItIsLocked) {
  ASSERT_TRUE(changeOptions({.showLockIcon = true}));
  EXPECT_EQ(badge("Hidden"), kLockGlyph);
  EXPECT_EQ(badge("Recently Deleted"), hostBadge("Recently Deleted"));

  ASSERT_TRUE(changeOptions({.lockRecentlyDeleted = true, .showLockIcon = true}));
  EXPECT_EQ(badge("Recently Deleted"), kLockGlyph);

  ASSERT_TRUE(changeOptions({.lockRecentlyDeleted = true}));
  EXPECT_EQ(badge("Recently Deleted"), hostBadge("Recently Deleted"));
  EXPECT_EQ(badge("Hidden"), hostBadge("Hidden"));
}

TEST_F(RowDecorationWithCellConfiguration, OrdinaryAlbumsAreNeverTouched) {
  expectOrdinaryRowsUntouchedUnderEveryOption();
}

TEST_F(RowDecorationWithCellConfiguration, AChangedOptionShowsOnTheNextDrawing) {
  EXPECT_EQ(badge("Hidden"), hostBadge("Hidden"));
  ASSERT_TRUE(changeOptions({.showLockIcon = true}));
  EXPECT_EQ(badge("Hidden"), kLockGlyph);
  ASSERT_TRUE(changeOptions({.hiddenItemCountEnabled = true, .hiddenItemCount = 8}));
  EXPECT_EQ(badge("Hidden"), "8");
  ASSERT_TRUE(changeOptions({}));
  EXPECT_EQ(badge("Hidden"), hostBadge("Hidden"));
}

TEST_F(RowDecorationBeforeCellConfiguration, TheFixedCountReplacesOnlyHiddensCount) {
  for (long long count : {0LL, -7LL, 42LL}) {
    ASSERT_TRUE(changeOptions(
        {.lockRecentlyDeleted = true, .hiddenItemCountEnabled = true, .hiddenItemCount = count}));
    std::vector<std::string> rows = hostRows();
    for (std::string& row : rows) {
      if (row.rfind("album Hidden:", 0) == 0) row = "album Hidden: " + std::to_string(count);
    }
    EXPECT_EQ(app().albums(), rows) << count;
  }
}

TEST_F(RowDecorationBeforeCellConfiguration, TheLockGlyphOptionPlaysNoPart) {
  ASSERT_TRUE(changeOptions({.lockRecentlyDeleted = true, .showLockIcon = true}));
  EXPECT_EQ(app().albums(), hostRows());
  ASSERT_TRUE(changeOptions({.lockRecentlyDeleted = true,
                             .hiddenItemCountEnabled = true,
                             .showLockIcon = true,
                             .hiddenItemCount = 9}));
  EXPECT_EQ(badge("Hidden"), "9");
  EXPECT_EQ(badge("Recently Deleted"), hostBadge("Recently Deleted"));
}

TEST_F(RowDecorationBeforeCellConfiguration, OrdinaryAlbumsAreNeverTouched) {
  expectOrdinaryRowsUntouchedUnderEveryOption();
}

TEST_F(RowDecorationPad, NothingIsDecorated) {
  for (const Options& options : everyOptionCombination()) {
    ASSERT_TRUE(changeOptions(options));
    EXPECT_EQ(app().albums(), hostRows()) << describe(options);
  }
}

}  // namespace
}  // namespace tweak_test

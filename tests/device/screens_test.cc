// The screens the programs draw, read back from their PNGs, and touches
// delivered through them: what a person would see and do, checked by pixels
// at the places `views` reports.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

#include "tests/support/device_fixture.h"
#include "tests/support/picture.h"

namespace {

namespace fs = std::filesystem;
using testing_support::answer;
using testing_support::DeviceTest;
using testing_support::enabledWith;
using testing_support::Lines;
using testing_support::Picture;
using testing_support::readPng;

constexpr double kScale = 3;  // an iPhone's screen

// A pixel at a point of an iPhone's screen (points).
const uint8_t* at(const Picture& p, double x, double y) {
  return p.pixel(static_cast<int>(x * kScale), static_cast<int>(y * kScale));
}

struct Rect {
  double x = 0, y = 0, w = 0, h = 0;
  double midX() const { return x + w / 2; }
  double midY() const { return y + h / 2; }
};

// The frame of the first `views` line that contains `part`.
Rect frameOf(const Lines& views, const std::string& part) {
  static const std::regex frame(R"(\(([-0-9.]+), ([-0-9.]+), ([-0-9.]+), ([-0-9.]+)\))");
  for (const std::string& line : views) {
    if (line.find(part) == std::string::npos) continue;
    std::smatch m;
    if (!std::regex_search(line, m, frame)) break;
    return Rect{std::stod(m[1]), std::stod(m[2]), std::stod(m[3]), std::stod(m[4])};
  }
  ADD_FAILURE() << "no view line with " << part;
  return Rect{};
}

// Pixels inside `r` (points) for which `pred(r, g, b)` holds.
template <class Pred>
int count(const Picture& p, const Rect& r, Pred pred) {
  int n = 0;
  for (int y = static_cast<int>(r.y * kScale); y < static_cast<int>((r.y + r.h) * kScale); ++y) {
    for (int x = static_cast<int>(r.x * kScale); x < static_cast<int>((r.x + r.w) * kScale); ++x) {
      const uint8_t* c = &p.rgb[(static_cast<size_t>(y) * p.width + x) * 3];
      n += pred(c[0], c[1], c[2]);
    }
  }
  return n;
}

bool samePixels(const Picture& a, const Picture& b, const Rect& r) {
  for (int y = static_cast<int>(r.y * kScale); y < static_cast<int>((r.y + r.h) * kScale); ++y) {
    size_t from = (static_cast<size_t>(y) * a.width + static_cast<int>(r.x * kScale)) * 3;
    size_t length = static_cast<size_t>(r.w * kScale) * 3;
    if (std::memcmp(&a.rgb[from], &b.rgb[from], length) != 0) return false;
  }
  return true;
}

// systemGrayColor, exactly (a filled glyph's inside).
bool systemGray(int r, int g, int b) {
  return std::abs(r - 142) <= 1 && std::abs(g - 142) <= 1 && std::abs(b - 147) <= 1;
}
// secondaryLabelColor over white, exactly (a digit's stroke).
bool digitGray(int r, int g, int b) {
  return std::abs(r - 138) <= 1 && std::abs(g - 138) <= 1 && std::abs(b - 143) <= 1;
}
bool ink(int r, int, int) { return r < 200; }

class ScreensTest : public DeviceTest {
 protected:
  std::string shot(testing_support::DeviceProcess& p, const std::string& name) {
    std::string path = root_ + "/" + name + ".png";
    EXPECT_EQ(answer(p, "screenshot " + path), Lines{"screenshot " + path + " 1170x2532"});
    return path;
  }

  // The album list on screen with `options`: its picture and its views.
  std::pair<Picture, Lines> albumList(const std::map<std::string, std::string>& options) {
    writeSettings(enabledWith(options));
    auto photos = start("photos");
    std::string path = shot(*photos, "list");
    Lines views = answer(*photos, "views");
    EXPECT_EQ(photos->finish(), 0);
    return {readPng(path), views};
  }
};

TEST_F(ScreensTest, LockIconChangesOnlyHiddensRowAndAFixedCountShowsItsDigits) {
  initDevice();
  auto [plain, plain_views] = albumList({});
  auto [locked, locked_views] = albumList({{"showLockIcon", "<true/>"}});
  auto [counted, counted_views] = albumList(
      {{"hiddenItemCountEnabled", "<true/>"}, {"hiddenItemCount", "<integer>7</integer>"}});
  ASSERT_EQ(plain.width, 1170);
  ASSERT_EQ(plain.height, 2532);

  // Rows are the cells' frames; the list lays them out the same each time.
  for (const char* title : {"Recents", "Favorites", "Holidays", "Family", "Recently Deleted"}) {
    Rect title_label = frameOf(plain_views, std::string("\"") + title + "\"");
    Rect row{0, title_label.midY() - 22, 390, 44};
    EXPECT_TRUE(samePixels(plain, locked, row)) << title << "'s row changed with the lock icon";
    EXPECT_TRUE(samePixels(plain, counted, row)) << title << "'s row changed with the fixed count";
  }
  Rect hidden_title = frameOf(plain_views, "\"Hidden\"");
  Rect hidden_row{0, hidden_title.midY() - 22, 390, 44};
  EXPECT_FALSE(samePixels(plain, locked, hidden_row));

  // Where the count was, a grey glyph: its filled body in systemGrayColor.
  Rect count_label = frameOf(plain_views, "\"12\"");
  Rect glyph_label = frameOf(locked_views, "\"[lock.fill systemGrayColor]\"");
  EXPECT_NEAR(glyph_label.midY(), count_label.midY(), 1);
  EXPECT_GT(count(locked, glyph_label, systemGray), 60);
  EXPECT_LT(count(plain, count_label, systemGray), 6) << "digits are drawn in another grey";
  // Nothing of the count is left: no digit's grey anywhere in the badge.
  Rect badge{std::min(count_label.x, glyph_label.x), count_label.y,
             std::max(count_label.x + count_label.w, glyph_label.x + glyph_label.w) -
                 std::min(count_label.x, glyph_label.x),
             count_label.h};
  EXPECT_GT(count(plain, badge, digitGray), 30);
  EXPECT_LT(count(locked, badge, digitGray), 6) << "only a glyph edge may pass for a digit";

  // A fixed count shows its own digits, where the count was and no wider.
  Rect seven = frameOf(counted_views, "\"7\"");
  EXPECT_LT(seven.w, count_label.w);
  EXPECT_GT(count(counted, seven, digitGray), 20);
  EXPECT_LT(count(counted, seven, systemGray), 6);
  EXPECT_FALSE(samePixels(plain, counted, count_label));
}

TEST_F(ScreensTest, PromptIsDrawnOverTheListAndTakesEveryTouch) {
  initDevice();
  writeSettings(enabledWith());
  auto photos = start("photos");
  Lines views = answer(*photos, "views");
  Rect hidden = frameOf(views, "\"Hidden\"");

  // A touch on the row's title is the row's tap: the prompt comes up.
  EXPECT_EQ(answer(*photos, "touch 100 " + std::to_string(hidden.midY())),
            Lines{"prompt \"Use your passcode to view and manage hidden album.\" passcode"});
  std::string path = shot(*photos, "prompt");
  Picture screen = readPng(path);
  Lines with_prompt = answer(*photos, "views");
  Rect reason = frameOf(with_prompt, "\"Use your passcode to view and manage hidden album.\"");
  EXPECT_GT(count(screen, reason, [](int r, int, int) { return r < 100; }), 200)
      << "the reason's text is drawn";
  // The list under it is dimmed: its white is grey now.
  const uint8_t* outside = at(screen, 20, 800);
  EXPECT_LT(outside[0], 180);
  EXPECT_EQ(outside[0], outside[2]);

  // Only the prompt takes touches: the rows and the bar are out of reach.
  EXPECT_EQ(answer(*photos, "touch 100 " + std::to_string(hidden.midY() - 200)),
            Lines{"error: the authentication prompt is on screen: answer or cancel it first"})
      << "refused as a typed tap is";
  EXPECT_EQ(answer(*photos, "tap Family"),
            Lines{"error: the authentication prompt is on screen: answer or cancel it first"});
  EXPECT_EQ(answer(*photos, "where"), Lines{"where Albums"});
  Rect cancel = frameOf(with_prompt, "\"Cancel\"");
  EXPECT_EQ(answer(*photos,
                   "touch " + std::to_string(cancel.midX()) + " " + std::to_string(cancel.midY())),
            Lines{"cancelled"});
  EXPECT_EQ(answer(*photos, "prompt"), Lines{"prompt none"});
  EXPECT_EQ(answer(*photos, "where"), Lines{"where Albums"});

  // Without a prompt, a touch on a row opens it and one on the back button returns.
  Rect family = frameOf(views, "\"Family\"");
  EXPECT_EQ(answer(*photos, "touch 380 " + std::to_string(family.midY())), Lines{});
  EXPECT_EQ(answer(*photos, "where"), Lines{"where Albums > Family"});
  Rect back = frameOf(answer(*photos, "views"), "UIButton");
  EXPECT_EQ(
      answer(*photos, "touch " + std::to_string(back.midX()) + " " + std::to_string(back.midY())),
      Lines{});
  EXPECT_EQ(answer(*photos, "where"), Lines{"where Albums"});
  EXPECT_EQ(photos->finish(), 0);
}

// The lines of the prompt's window: the last window `views` lists.
Lines promptLines(const Lines& views) {
  size_t last = 0;
  for (size_t i = 0; i < views.size(); ++i) {
    if (views[i].rfind("UIWindow ", 0) == 0) last = i;
  }
  return Lines(views.begin() + static_cast<long>(last), views.end());
}

// A touch at the centre of the prompt's key titled `title` ("7", "OK").
std::string keyTouch(const Lines& views, const std::string& title) {
  Rect key = frameOf(promptLines(views), "\"" + title + "\"");
  return "touch " + std::to_string(key.midX()) + " " + std::to_string(key.midY());
}

TEST_F(ScreensTest, PromptKeypadTypesThePasscodeWithADotForEachDigit) {
  initDevice();
  writeSettings(enabledWith());
  auto photos = start("photos");
  const Lines prompt{"prompt \"Use your passcode to view and manage hidden album.\" passcode"};
  EXPECT_EQ(answer(*photos, "tap Hidden"), prompt);
  Lines keys = answer(*photos, "views");
  // The field's dots are its 10-point round subviews.
  auto dotFrames = [&] {
    std::vector<Rect> frames;
    Lines lines = promptLines(answer(*photos, "views"));
    for (const std::string& line : lines) {
      if (line.size() > 9 && line.compare(line.size() - 9, 9, ", 10, 10)") == 0)
        frames.push_back(frameOf(Lines{line}, "("));
    }
    return frames;
  };
  auto dots = [&] { return dotFrames().size(); };
  EXPECT_EQ(dots(), 0u);

  // Digits typed on a prompt that ended go with it: the app leaves the screen
  // with two typed, and the next prompt, for the same reason, starts empty.
  for (const char* digit : {"5", "6"}) EXPECT_EQ(answer(*photos, keyTouch(keys, digit)), Lines{});
  EXPECT_EQ(dots(), 2u);
  answer(*photos, "background");
  answer(*photos, "foreground");
  EXPECT_EQ(answer(*photos, "tap Hidden"), prompt);
  EXPECT_EQ(dots(), 0u) << "the cancelled prompt's digits carried over";

  for (const char* digit : {"1", "2", "9"})
    EXPECT_EQ(answer(*photos, keyTouch(keys, digit)), Lines{});
  EXPECT_EQ(dots(), 3u);
  EXPECT_EQ(answer(*photos, keyTouch(keys, "Delete")), Lines{});
  EXPECT_EQ(dots(), 2u);
  for (const char* digit : {"3", "4"}) EXPECT_EQ(answer(*photos, keyTouch(keys, digit)), Lines{});
  EXPECT_EQ(answer(*photos, keyTouch(keys, "OK")), Lines{"passcode accepted"});
  EXPECT_EQ(answer(*photos, "where"), Lines{"where Albums > Hidden"});

  // The longest passcode's dots all sit inside the field, centred in it.
  EXPECT_EQ(answer(*photos, "back"), Lines{});
  EXPECT_EQ(answer(*photos, "tap Hidden"), prompt);
  for (int i = 0; i < 20; ++i) answer(*photos, keyTouch(keys, "8"));
  std::vector<Rect> full = dotFrames();
  ASSERT_EQ(full.size(), 16u);
  Rect field = frameOf(promptLines(keys), ", 238, 36)");
  for (const Rect& dot : full) {
    EXPECT_GE(dot.x, field.x + 4);
    EXPECT_LE(dot.x + dot.w, field.x + field.w - 4);
    EXPECT_NEAR(dot.midY(), field.midY(), 0.5);
  }
  EXPECT_NEAR((full.front().x + full.back().x + full.back().w) / 2, field.midX(), 0.5);
  EXPECT_LT(full.front().x + full.front().w, full[1].x) << "dots apart, not overlapping";
  EXPECT_EQ(answer(*photos, keyTouch(keys, "Cancel")), Lines{"cancelled"});
  EXPECT_EQ(photos->finish(), 0);
}

// OK on an empty field does nothing, as on a phone: no answer, no failure in
// the device's record; nor does `answer passcode` with no code.
TEST_F(ScreensTest, OkOnAnEmptyFieldDoesNothing) {
  initDevice();
  writeSettings(enabledWith());
  auto photos = start("photos");
  const Lines prompt{"prompt \"Use your passcode to view and manage hidden album.\" passcode"};
  ASSERT_EQ(answer(*photos, "tap Hidden"), prompt);
  Lines keys = answer(*photos, "views");
  // init made the record with the passcode: a counted failure changes it.
  auto record = [this] {
    std::ifstream in(root_ + "/var/db/passcode.plist", std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  const std::string untouched = record();
  ASSERT_FALSE(untouched.empty());
  EXPECT_EQ(answer(*photos, keyTouch(keys, "OK")), Lines{});
  // A digit typed and deleted leaves the field empty again.
  EXPECT_EQ(answer(*photos, keyTouch(keys, "5")), Lines{});
  EXPECT_EQ(answer(*photos, keyTouch(keys, "Delete")), Lines{});
  EXPECT_EQ(answer(*photos, keyTouch(keys, "OK")), Lines{});
  const Lines usage{"error: usage: answer passcode <code> | answer face | answer cancel"};
  EXPECT_EQ(answer(*photos, "answer passcode"), usage);
  EXPECT_EQ(answer(*photos, "answer passcode   "), usage);
  EXPECT_EQ(record(), untouched) << "a failure was counted";
  EXPECT_EQ(answer(*photos, "prompt"), prompt);
  // The first code typed is the first attempt, for the prompt and the record.
  for (const char* digit : {"9", "9"}) EXPECT_EQ(answer(*photos, keyTouch(keys, digit)), Lines{});
  EXPECT_EQ(answer(*photos, keyTouch(keys, "OK")), Lines{"wrong passcode, 4 attempts left"});
  EXPECT_NE(record(), untouched);
  EXPECT_EQ(answer(*photos, keyTouch(keys, "Cancel")), Lines{"cancelled"});
  EXPECT_EQ(photos->finish(), 0);
}

// In the background no touch reaches the app: a row and an empty spot answer
// the same error, and nothing moves.
TEST_F(ScreensTest, InTheBackgroundEveryTouchAnswersTheSameError) {
  initDevice();
  auto photos = start("photos");
  Rect recents = frameOf(answer(*photos, "views"), "\"Recents\"");
  const std::string row =
      "touch " + std::to_string(recents.midX()) + " " + std::to_string(recents.midY());
  const std::string empty = "touch 200 830";  // below the list's last row
  EXPECT_EQ(answer(*photos, empty), Lines{});
  answer(*photos, "background");
  const Lines refused{"error: the app is in the background"};
  EXPECT_EQ(answer(*photos, empty), refused);
  EXPECT_EQ(answer(*photos, row), refused);
  EXPECT_EQ(answer(*photos, "where"), Lines{"where Albums"});
  answer(*photos, "foreground");
  EXPECT_EQ(answer(*photos, row), Lines{});
  EXPECT_EQ(answer(*photos, "where"), Lines{"where Albums > Recents"});
  EXPECT_EQ(photos->finish(), 0);
}

TEST_F(ScreensTest, BadScreenshotsAndTouchesAnswerErrorsAndLeaveNothing) {
  initDevice();
  auto photos = start("photos");
  std::string file = root_ + "/a-file";
  std::ofstream(file) << "x";
  Lines answered = answer(*photos, "screenshot " + file + "/shot.png");
  ASSERT_EQ(answered.size(), 1u);
  EXPECT_EQ(answered[0].rfind("error: ", 0), 0u) << answered[0];
  EXPECT_NE(answered[0].find(file + "/shot.png"), std::string::npos) << answered[0];
  // A picture that cannot replace what is at its path (a folder) leaves
  // nothing behind, not even its temporary file.
  std::string full = root_ + "/full";
  fs::create_directories(full);
  auto entries = [&] {
    size_t n = 0;
    for (auto it = fs::directory_iterator(root_); it != fs::directory_iterator(); ++it) ++n;
    return n;
  };
  size_t before = entries();
  Lines refused = answer(*photos, "screenshot " + full);
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].rfind("error: ", 0), 0u) << refused[0];
  EXPECT_EQ(entries(), before) << "the failed screenshot left a file behind";
  EXPECT_TRUE(fs::is_empty(full));
  std::string good = root_ + "/good.png";
  EXPECT_EQ(answer(*photos, "screenshot " + good), Lines{"screenshot " + good + " 1170x2532"});
  EXPECT_EQ(entries(), before + 1) << "only the picture itself was added";
  EXPECT_EQ(answer(*photos, "screenshot"), Lines{"error: usage: screenshot PATH"});
  EXPECT_EQ(answer(*photos, "touch 390 10"),
            Lines{"error: (390, 10) is off the screen (390x844 points)"});
  EXPECT_EQ(answer(*photos, "touch -1 10"),
            Lines{"error: (-1, 10) is off the screen (390x844 points)"});
  EXPECT_EQ(answer(*photos, "touch ten 10"), Lines{"error: usage: touch X Y (screen points)"});
  EXPECT_EQ(answer(*photos, "touch 10"), Lines{"error: usage: touch X Y (screen points)"});
  EXPECT_EQ(photos->finish(), 0);
}

TEST_F(ScreensTest, PaneHeaderTitleAndSwitchesAsDrawnAndTouched) {
  initDevice();
  std::string killall = root_ + "/var/jb/usr/bin/killall";
  fs::remove(killall);
  std::ofstream(killall) << "#!/bin/sh\necho \"killall $*\" >> '" << root_ << "/killall.log'\n";
  fs::permissions(killall, fs::perms::owner_all);
  recordKillall();
  auto settings = start("settings");
  EXPECT_EQ(answer(*settings, "open Velmo"), Lines{});
  Picture off = readPng(shot(*settings, "off"));
  Lines views = answer(*settings, "views");

  // The header image: 125 points, centred on the screen's width, in the accent colour.
  Rect image = frameOf(views, "UIImageView");
  EXPECT_EQ(image.w, 125);
  EXPECT_EQ(image.h, 125);
  EXPECT_EQ(image.midX(), 195);
  auto pink = [](int r, int g, int b) {
    return r > 240 && std::abs(g - 105) < 6 && std::abs(b - 180) < 6;
  };
  EXPECT_GT(count(off, image, pink), 20000);
  Rect around{image.x - 40, image.y - 20, image.w + 80, image.h + 40};
  EXPECT_EQ(count(off, around, pink), count(off, image, pink)) << "nothing pink outside the box";
  // Its shadow darkens the ground beside the picture's edge, and is gone 20
  // points away from it.
  double body = image.y + image.h * 0.66;  // through the padlock's body
  double edge = image.x;
  while (edge < image.midX() &&
         !pink(at(off, edge, body)[0], at(off, edge, body)[1], at(off, edge, body)[2]))
    edge += 1.0 / kScale;
  const uint8_t* ground = at(off, 20, body);
  EXPECT_LT(at(off, edge - 3, body)[0], ground[0] - 3);
  EXPECT_EQ(at(off, edge - 20, body)[0], ground[0]);

  // The title is centred in the bar.
  Rect title = frameOf(views, "\"Velmo\"");
  Rect bar = frameOf(views, "UINavigationBar");
  EXPECT_NEAR(title.midX(), 195, 0.5);
  EXPECT_GE(title.y, bar.y);
  int left_ink = count(off, Rect{title.x, title.y, title.w / 2, title.h}, ink);
  int right_ink = count(off, Rect{title.midX(), title.y, title.w / 2, title.h}, ink);
  EXPECT_GT(left_ink, 100);
  EXPECT_NEAR(left_ink, right_ink, (left_ink + right_ink) / 4);

  // The master switch: grey when off; a touch turns it on, the accent colour.
  Rect master = frameOf(views, "UISwitch (323");  // the one in the bar, at its trailing edge
  EXPECT_EQ(count(off, master, pink), 0);
  Lines flipped = answer(
      *settings, "touch " + std::to_string(master.midX()) + " " + std::to_string(master.midY()));
  EXPECT_EQ(flipped, Lines{"Photos was not running"});
  Picture on = readPng(shot(*settings, "on"));
  EXPECT_GT(count(on, master, pink), 400);
  EXPECT_EQ(answer(*settings, "show")[1].substr(0, 10), "switch on ");

  // An option's switch, touched, is stored as `set` stores it.
  Rect lock_row = frameOf(views, "\"Show Lock Icon\"");
  EXPECT_EQ(answer(*settings, "touch 340 " + std::to_string(lock_row.midY())), Lines{});
  std::ifstream in(settingsPath());
  std::stringstream stored;
  stored << in.rdbuf();
  EXPECT_NE(stored.str().find("showLockIcon"), std::string::npos);
  Lines shown = answer(*settings, "show");
  EXPECT_NE(std::find(shown.begin(), shown.end(), "row showLockIcon: on"), shown.end());
  EXPECT_EQ(settings->finish(), 0);
}

TEST_F(ScreensTest, SettingsRowOpensThePaneAndTheBackButtonLeavesIt) {
  initDevice();
  auto settings = start("settings");
  Rect row = frameOf(answer(*settings, "views"), "\"Velmo\"");
  EXPECT_EQ(
      answer(*settings, "touch " + std::to_string(row.midX()) + " " + std::to_string(row.midY())),
      Lines{});
  EXPECT_EQ(answer(*settings, "show")[0], "title Velmo (bold 18, labelColor, centred)");
  Rect back = frameOf(answer(*settings, "views"), "UIButton");
  EXPECT_EQ(
      answer(*settings, "touch " + std::to_string(back.midX()) + " " + std::to_string(back.midY())),
      Lines{});
  EXPECT_EQ(answer(*settings, "show"), Lines{"error: nothing is open (use open Velmo first)"});
  EXPECT_EQ(settings->finish(), 0);
}

// The Settings list draws the entry's icon before its label: the accent
// colour's rounded square with the white padlock, its corners the row's
// white; without the scale-3 file it takes the scale-2 one, without either
// the row has no image.
TEST_F(ScreensTest, SettingsListDrawsTheEntryIcon) {
  initDevice();
  std::string bundle = root_ + "/var/jb/Library/PreferenceBundles/VelmoPreferences.bundle/";
  auto pink = [](int r, int g, int b) {
    return r > 240 && std::abs(g - 105) < 8 && std::abs(b - 180) < 8;
  };
  auto white = [](int r, int g, int b) { return r > 250 && g > 250 && b > 250; };
  auto listed = [&](const std::string& name) {
    auto settings = start("settings");
    std::pair<Picture, Lines> seen{readPng(shot(*settings, name)), answer(*settings, "views")};
    EXPECT_EQ(settings->finish(), 0);
    return seen;
  };
  for (const char* removed : {"", "icon@3x.png"}) {
    SCOPED_TRACE(std::string("removed: ") + removed);
    if (*removed != 0) fs::remove(bundle + removed);
    auto [screen, views] = listed("list");
    Rect icon = frameOf(views, "UIImageView");
    Rect label = frameOf(views, "\"Velmo\"");
    EXPECT_EQ(icon.w, 28);
    EXPECT_EQ(icon.h, 28);
    EXPECT_LT(icon.x + icon.w, label.x);
    EXPECT_NEAR(icon.midY(), label.midY(), 1);
    int area = static_cast<int>(icon.w * icon.h * kScale * kScale);
    EXPECT_GT(count(screen, icon, pink), area / 2);
    Rect glyph{icon.x + icon.w * 0.3, icon.y + icon.h * 0.3, icon.w * 0.4, icon.h * 0.4};
    EXPECT_GT(count(screen, glyph, white), area / 20) << "the white padlock in the middle";
    Rect corner{icon.x, icon.y, 1, 1};
    EXPECT_EQ(count(screen, corner, white), kScale * kScale) << "a rounded corner";
  }
  fs::remove(bundle + "icon@2x.png");
  Lines views = listed("none").second;
  EXPECT_TRUE(std::none_of(views.begin(), views.end(), [](const std::string& line) {
    return line.find("UIImageView") != std::string::npos;
  }));
  frameOf(views, "\"Velmo\"");
}

TEST_F(ScreensTest, MissingHeaderImageLeavesItsAreaEmpty) {
  initDevice();
  fs::remove(root_ + "/var/jb/Library/PreferenceBundles/VelmoPreferences.bundle/velmo.png");
  auto settings = start("settings");
  EXPECT_EQ(answer(*settings, "open Velmo"), Lines{});
  Picture screen = readPng(shot(*settings, "empty"));
  Rect image = frameOf(answer(*settings, "views"), "UIImageView");
  EXPECT_EQ(image.w, 125);
  EXPECT_EQ(image.midX(), 195);
  const uint8_t* ground = at(screen, 20, image.midY());
  Rect around{image.x - 30, image.y - 10, image.w + 60, image.h + 20};
  EXPECT_EQ(count(screen, around,
                  [&](int r, int g, int b) {
                    return r != ground[0] || g != ground[1] || b != ground[2];
                  }),
            0)
      << "no picture and no shadow";
  EXPECT_EQ(settings->finish(), 0);
}

TEST_F(ScreensTest, IpadSidebarItemTouchedIsThatItem) {
  initDevice({"--model", "iPad"});
  auto photos = start("photos");
  std::string path = root_ + "/pad.png";
  EXPECT_EQ(answer(*photos, "screenshot " + path), Lines{"screenshot " + path + " 1640x2360"});
  Lines views = answer(*photos, "views");
  Rect family = frameOf(views, "\"Family\"");  // the sidebar's row comes first
  EXPECT_LT(family.x, 320);
  EXPECT_EQ(answer(*photos,
                   "touch " + std::to_string(family.midX()) + " " + std::to_string(family.midY())),
            Lines{"completed Family"});
  EXPECT_EQ(answer(*photos, "where"), Lines{"where Albums > Family"});

  // The first row, selected, is blue inside the section's rounded corner
  // and not beyond it.
  Rect first = frameOf(views, "UITableViewCell");
  EXPECT_EQ(
      answer(*photos, "touch " + std::to_string(first.midX()) + " " + std::to_string(first.midY())),
      Lines{"completed Recents"});
  path = root_ + "/pad-first.png";
  EXPECT_EQ(answer(*photos, "screenshot " + path), Lines{"screenshot " + path + " 1640x2360"});
  Picture pad = readPng(path);
  auto blue = [&](double x, double y) {
    const uint8_t* c = pad.pixel(static_cast<int>(x * 2), static_cast<int>(y * 2));
    return c[0] < 40 && c[2] > 220;
  };
  EXPECT_TRUE(blue(first.x + 12, first.midY()));
  EXPECT_TRUE(blue(first.x + 5, first.y + 12));
  EXPECT_FALSE(blue(first.x + 1, first.y + 1)) << "the selection's square corner sticks out";
  EXPECT_FALSE(blue(first.x + first.w - 1, first.y + 1));
  EXPECT_EQ(photos->finish(), 0);
}

}  // namespace

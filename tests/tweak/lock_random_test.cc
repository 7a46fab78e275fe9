// The lock under thousands of random user actions: taps on every album (also
// under a pending prompt, which is modal), the owner's answers (right and
// wrong passcodes, repeated ones among them, Face ID, cancel), back,
// background and foreground (with a prompt up, the system cancels it),
// the device's clock moved on through passcode lock-outs, and option changes
// through the settings file and its notification. A model of what the user
// must see is kept beside the app and compared after every step:
//
//   - a protected album (Hidden, or Recently Deleted while its lock is on at
//     the tap) is shown only right after a successful answer to the prompt
//     of a tap on it, given in the foreground and outside any lock-out;
//   - one answer opens at most one album;
//   - an unprotected album opens right at its tap;
//   - a failed or refused answer changes nothing; an unlock is remembered
//     until the background return clears it (iPhone, popToRoot on).
//
// The seed is printed with every failure; VELMO_SEED=<n> replays one.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/foundation/device_clock.h"
#include "platform/localauth/prompt.h"
#include "platform/photos/photo_library.h"
#include "platform/tcc/daemon.h"
#include "platform/uikit/uinavigationcontroller.h"
#include "tests/tweak/tweak_device.h"

namespace tweak_test {
namespace {

// Steps per run, unless the time budget runs out first (a slow or busy
// machine); fewer than kMinimumSteps in the budget is a failure.
constexpr int kSteps = 10000;
constexpr int kMinimumSteps = 2000;
constexpr auto kTimeBudget = std::chrono::seconds(20);

std::string joined(const std::vector<std::string>& titles) {
  std::string out;
  for (const std::string& title : titles) out += (out.empty() ? "" : " > ") + title;
  return out;
}

// What the user must see, step by step.
struct Model {
  struct PendingTap {
    std::string title;
    bool sameItem = false;  // iPad: the album was on screen at the tap
    int wrongAnswers = 0;
  };

  bool pad = false;
  std::vector<std::string> stack = {"Albums"};
  // The device's record of failed passcodes.
  int64_t failures = 0;
  std::string lastWrong;
  int64_t lockedUntil = 0;  // device-clock seconds
  bool background = false;
  bool accessed = false;
  Options options;
  std::deque<PendingTap> prompts;
  std::vector<std::string> events;

  bool protectedNow(const std::string& title) const {
    return title == "Hidden" || (title == "Recently Deleted" && options.lockRecentlyDeleted);
  }
  bool shows(const std::string& title) const { return stack.size() > 1 && stack.back() == title; }

  // The host's navigation to `title`, as the tap made it.
  void open(const std::string& title, bool same_item) {
    if (!pad) {
      stack.push_back(title);
      return;
    }
    if (!(same_item && shows(title))) stack = {"Albums", title};
    events.push_back("completed " + title);
  }

  // What app().tap must answer: "" or that there was an error.
  bool tap(const std::string& title) {
    // The prompt is modal: no tap reaches the app under it.
    if (background || !prompts.empty() || (!pad && stack.size() > 1)) return false;
    bool same_item = pad && shows(title);
    if (protectedNow(title)) {
      prompts.push_back({title, same_item, 0});
    } else {
      open(title, same_item);
    }
    return true;
  }

  // A right passcode also clears the device's record; a face does not.
  void unlock(bool by_passcode) {
    PendingTap tap = prompts.front();
    prompts.pop_front();
    accessed = true;
    if (by_passcode) {
      failures = 0;
      lastWrong.clear();
      lockedUntil = 0;
    }
    open(tap.title, tap.sameItem);
  }

  void refuse() { prompts.pop_front(); }

  // The wait after the n-th failure, as phones publish it.
  static int64_t delayAfter(int64_t n) {
    return n < 5 ? 0 : n == 5 ? 60 : n == 6 ? 300 : n <= 8 ? 900 : 3600;
  }

  // A wrong passcode taken at device time `now`; whether it was the last
  // one the prompt takes.
  bool wrongPasscode(const std::string& code, int64_t now) {
    // The same mistake right after itself counts once, by the device's last
    // wrong code, whichever prompt it was given on; the prompt takes an
    // attempt exactly when the device counted one.
    if (code == lastWrong) return false;
    lastWrong = code;
    if (int64_t wait = delayAfter(++failures); wait > 0) lockedUntil = now + wait;
    PendingTap& tap = prompts.front();
    if (++tap.wrongAnswers < localauth::kMaxPasscodeAttempts) return false;
    refuse();
    return true;
  }

  bool back() {
    if (background || !prompts.empty() || stack.size() <= 1) return false;
    stack.pop_back();
    return true;
  }

  // Whether the app should pop to its root now.
  bool enterBackground() {
    if (background) return false;
    background = true;
    prompts.clear();  // the system's cancel
    if (!pad && accessed && options.popToRoot) {
      accessed = false;
      stack = {"Albums"};
    }
    return true;
  }

  bool enterForeground() {
    if (!background) return false;
    background = false;
    return true;
  }
};

class LockUnderRandomUse : public TweakTest {
 protected:
  LockUnderRandomUse() : TweakTest(std::chrono::seconds(120)) {}

  static unsigned seedFromEnvironment() {
    if (const char* s = std::getenv("VELMO_SEED"); s != nullptr && *s != '\0') {
      return static_cast<unsigned>(std::strtoul(s, nullptr, 10));
    }
    return std::random_device{}();
  }
};

TEST_F(LockUnderRandomUse, ProtectedAlbumsOpenOnlyAfterTheirOwnSuccessfulAnswer) {
  // Both Face ID grants in place, so a face can answer.
  ASSERT_EQ(tcc::startDaemon().error, "");

  const unsigned seed = seedFromEnvironment();
  SCOPED_TRACE("seed " + std::to_string(seed) + " (VELMO_SEED replays it)");
  std::mt19937 random(seed);
  std::vector<std::string> titles;
  for (const photos::AlbumRecord& album : photos::defaultAlbums()) titles.push_back(album.title);

  Model model;
  model.pad = isPad();
  std::deque<std::string> history;  // the last steps, for a failure's message
  int guarded_taps = 0, open_taps = 0, face_unlocks = 0, unlocks = 0, refusals = 0;
  int option_changes = 0, lockout_refusals = 0, system_cancels = 0, modal_refusals = 0;
  auto started = std::chrono::steady_clock::now();
  auto* navigation = static_cast<UINavigationController*>(app().navigationController());

  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
  int step = 0;
  for (; step < kSteps && !HasFailure(); ++step) {
    if (std::chrono::steady_clock::now() - started > kTimeBudget) break;
    std::string action;
    bool taken = false, expected = false;
    const std::string before = app().where();
    const bool wasProtected = model.options.lockRecentlyDeleted;
    const size_t depth_before = static_cast<size_t>(std::count(before.begin(), before.end(), '>'));
    int roll = pick(100);
    if (roll < 30) {
      const std::string& title = titles[pick(static_cast<int>(titles.size()))];
      action = "tap " + title;
      size_t waiting = model.prompts.size();
      if (waiting > 0 && !model.background) ++modal_refusals;
      expected = model.tap(title);
      taken = app().tap(title).empty();
      if (expected) ++(model.prompts.size() > waiting ? guarded_taps : open_taps);
    } else if (roll < 54) {
      // An answer: the right passcode, one of three wrong ones, or a face.
      int kind = roll < 35 ? 0 : roll < 50 ? 1 : 2;
      static const char* const kWrong[] = {"1111", "2222", "3333"};
      std::string code = kind == 0 ? kPasscode : kind == 1 ? kWrong[pick(3)] : "";
      action = kind == 0   ? "answer passcode (right)"
               : kind == 1 ? "answer passcode " + code
                           : "answer face";
      int64_t now = device::clockNow();
      bool locked = model.lockedUntil > now;
      // Within a second of the end of a wait the device may judge either way.
      bool boundary =
          model.lockedUntil != 0 && model.lockedUntil - now >= -1 && model.lockedUntil - now <= 1;
      auto result = kind == 2 ? localauth::answerFace() : localauth::answerPasscode(code);
      taken = result.taken;
      expected = !model.prompts.empty() && !locked;
      if (boundary && !model.prompts.empty()) expected = taken;
      if (expected && taken) {
        if (kind == 1) {
          if (model.wrongPasscode(code, now)) ++refusals;
        } else {
          model.unlock(kind == 0);
          ++unlocks;
          if (kind == 2) ++face_unlocks;
        }
      } else if (locked && !model.prompts.empty()) {
        ++lockout_refusals;
      }
    } else if (roll < 58) {
      action = "answer cancel";
      expected = !model.prompts.empty();
      if (expected) {
        model.refuse();
        ++refusals;
      }
      taken = localauth::answerCancel().taken;
    } else if (roll < 60) {
      // Whole minutes, so that no wait ends within the second of a later answer.
      static const int kMinutes[] = {1, 5, 15, 60};
      int minutes = kMinutes[pick(4)];
      action = "clock advance " + std::to_string(minutes) + "m";
      expected = taken = device::advanceClock(minutes * 60).empty();
    } else if (roll < 80) {
      action = "back";
      expected = model.back();
      taken = app().back().empty();
    } else if (roll < 88) {
      bool leave = !model.background;
      action = leave ? "background" : "foreground";
      if (leave && !model.prompts.empty()) ++system_cancels;
      bool pops = leave && !model.pad && model.accessed && model.options.popToRoot;
      expected = leave ? model.enterBackground() : model.enterForeground();
      taken = (leave ? app().background() : app().foreground()).empty();
      if (pops) {
        EXPECT_EQ(navigation->lastOperation, UINavigationController::Operation::kPopToRoot)
            << "seed " << seed << ", step " << step;
        EXPECT_FALSE(navigation->lastAnimated) << "seed " << seed << ", step " << step;
      }
    } else if (roll < 94) {
      Options& o = model.options;
      switch (pick(5)) {
        case 0:
          o.lockRecentlyDeleted = !o.lockRecentlyDeleted;
          break;
        case 1:
          o.popToRoot = !o.popToRoot;
          break;
        case 2:
          o.showLockIcon = !o.showLockIcon;
          break;
        case 3:
          o.hiddenItemCountEnabled = !o.hiddenItemCountEnabled;
          break;
        default:
          o.hiddenItemCount = pick(21) - 10;
          break;
      }
      std::ostringstream text;
      text << "options lockRecentlyDeleted " << o.lockRecentlyDeleted << " popToRoot "
           << o.popToRoot << " showLockIcon " << o.showLockIcon << " hiddenItemCountEnabled "
           << o.hiddenItemCountEnabled << " hiddenItemCount " << o.hiddenItemCount;
      action = text.str();
      ++option_changes;
      expected = taken = changeOptions(o);
    } else {
      // Drawing the list remakes its items (before 15.0 with the count
      // override); the next taps use them.
      action = "albums";
      expected = taken = true;
      std::vector<std::string> rows = app().albums();
      EXPECT_EQ(rows.size(), titles.size());
    }
    history.push_back(std::to_string(step) + ": " + action);
    if (history.size() > 12) history.pop_front();
    ASSERT_TRUE(settle());

    std::string trace;
    for (const std::string& line : history) trace += "\n  " + line;
    // The two properties, checked apart from the model: a protected album
    // newly on screen came from an accepted answer in the foreground, and
    // no step opens more than one album.
    std::string shown = app().where();
    size_t depth_after = static_cast<size_t>(std::count(shown.begin(), shown.end(), '>'));
    EXPECT_LE(depth_after, depth_before + 1) << "seed " << seed << trace;
    std::string top =
        shown.substr(shown.rfind('>') == std::string::npos ? 0 : shown.rfind('>') + 2);
    bool protected_now = shown.size() > before.size() && shown.rfind(before, 0) == 0 &&
                         (top == "Hidden" || (top == "Recently Deleted" && wasProtected));
    if (protected_now && !model.pad) {
      EXPECT_TRUE(action == "answer passcode (right)" || action == "answer face")
          << "a protected album opened on " << action << "; seed " << seed << trace;
      EXPECT_FALSE(model.background) << "seed " << seed << trace;
    }
    EXPECT_EQ(taken, expected) << "whether the action was taken; seed " << seed << trace;
    EXPECT_EQ(app().where(), joined(model.stack)) << "seed " << seed << trace;
    EXPECT_EQ(localauth::promptCount(), model.prompts.size()) << "seed " << seed << trace;
    EXPECT_EQ(*library().accessed, model.accessed) << "accessed; seed " << seed << trace;
    EXPECT_EQ(events_, model.events) << "seed " << seed << trace;
  }
  std::printf(
      "seed %u: %d steps, %d taps that asked, %d that opened, %d unlocks (%d by face), "
      "%d refusals, %d option changes, %d answers refused in a lock-out, %d prompts cancelled "
      "by the system, %d taps under a prompt, %.1f s\n",
      seed, step, guarded_taps, open_taps, unlocks, face_unlocks, refusals, option_changes,
      lockout_refusals, system_cancels, modal_refusals,
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  EXPECT_GE(step, kMinimumSteps) << "the time budget ran out";
  EXPECT_GT(guarded_taps, 0);
  EXPECT_GT(open_taps, 0);
  EXPECT_GT(unlocks, 0);
  EXPECT_GT(face_unlocks, 0);
  // Lock-outs need five failures without a right answer between them, which
  // a run may not reach; the lock-out has tests of its own.
  EXPECT_GT(system_cancels, 0);
  EXPECT_GT(modal_refusals, 0);
}

}  // namespace
}  // namespace tweak_test

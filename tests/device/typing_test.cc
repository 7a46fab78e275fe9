// The Photos and Settings programs as a person types at them: help, and a
// mistyped command or album that is answered in one line while the program
// keeps going.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/support/device_fixture.h"

namespace {

using testing_support::answer;
using testing_support::DeviceTest;
using testing_support::Lines;
using testing_support::runProgram;
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

// The Photos program on a terminal of its own (a pseudo-terminal), as a
// person in a shell has it: what it has printed so far, and keys sent to it.
class Terminal {
 public:
  explicit Terminal(const std::vector<std::string>& argv) {
    pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
  }
  ~Terminal() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }
  // Keys go out once the line editor holds the terminal (canonical mode off):
  // before that the terminal's own line discipline would take them, Ctrl-V
  // and all, and seeing the prompt does not say the editor is there yet.
  void type(const std::string& keys) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (termios t{}; tcgetattr(master_, &t) == 0 && (t.c_lflag & ICANON) != 0;) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline)
          << "the line editor never took the terminal";
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }
  // Reads until the screen holds `text` `times` times, for up to ten seconds.
  bool waitFor(const std::string& text, int times = 1) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (count(text) < times) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buf[4096];
      ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0) return false;
      screen_.append(buf, static_cast<size_t>(n));
    }
    return true;
  }
  int count(const std::string& text) const {
    int n = 0;
    for (size_t at = screen_.find(text); at != std::string::npos; at = screen_.find(text, at + 1))
      ++n;
    return n;
  }
  const std::string& screen() const { return screen_; }
  // Waits up to ten seconds for the program to end; its exit status, or -1.
  int waitExit() {
    for (int i = 0; i < 1000; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }
  // The terminal's line discipline is back in canonical mode with echo on.
  bool cooked() const {
    termios t{};
    return tcgetattr(master_, &t) == 0 && (t.c_lflag & ICANON) != 0 && (t.c_lflag & ECHO) != 0;
  }

 private:
  pid_t pid_ = -1;
  int master_ = -1;
  std::string screen_;
};

TEST_F(TypingTest, OnATerminalLinesAreEditedCompletedAndRecalled) {
  initDevice();
  writeSettings(testing_support::enabledWith());
  Terminal terminal({program(), "photos", "--root", root_});
  ASSERT_TRUE(terminal.waitFor("photos> ")) << terminal.screen();
  // Tab completes the command, then the album's title.
  terminal.type("ta\t");
  terminal.type("Hid\t\n");
  ASSERT_TRUE(terminal.waitFor("prompt \"Use your passcode")) << terminal.screen();
  ASSERT_TRUE(terminal.waitFor("ok")) << terminal.screen();
  terminal.type("answer passcode 1234\n");
  ASSERT_TRUE(terminal.waitFor("passcode accepted")) << terminal.screen();
  // The arrow up recalls an earlier line: three up is the tap.
  terminal.type("back\n");
  ASSERT_TRUE(terminal.waitFor("photos> ", 4)) << terminal.screen();
  terminal.type("\x1b[A\x1b[A\x1b[A\n");
  ASSERT_TRUE(terminal.waitFor("prompt \"Use your passcode", 2)) << terminal.screen();
  terminal.type("answer cancel\n");
  ASSERT_TRUE(terminal.waitFor("cancelled")) << terminal.screen();
  ASSERT_TRUE(terminal.waitFor("cancelled\r\nok\r\nphotos> ")) << terminal.screen();
  // What is echoed back cannot drive the terminal (Ctrl-V types the escape).
  terminal.type("\x16\x1b]0;X\n");
  ASSERT_TRUE(terminal.waitFor("unknown command \"\\x1b]0;X\"")) << terminal.screen();
}

TEST_F(TypingTest, WhatIsTypedSurvivesAnEventAndQuitGivesTheTerminalBack) {
  initDevice();
  Terminal terminal({program(), "photos", "--root", root_});
  ASSERT_TRUE(terminal.waitFor("photos> ")) << terminal.screen();
  // An event printed while a line is half typed goes above it, and the
  // half-typed line shows again below.
  terminal.type("whe");
  ASSERT_TRUE(terminal.waitFor("photos> whe")) << terminal.screen();
  std::string output;
  ASSERT_EQ(runProgram({program(), "notify", "--root", root_, "com.qel.velmopreferences/changed"},
                       &output),
            0)
      << output;
  ASSERT_TRUE(terminal.waitFor("notified com.qel.velmopreferences/changed\r\nphotos> whe"))
      << terminal.screen();
  terminal.type("re\n");
  ASSERT_TRUE(terminal.waitFor("where Albums")) << terminal.screen();
  // Titles are typed as characters, not bytes.
  terminal.type("tap Caf\xc3\xa9\n");
  ASSERT_TRUE(terminal.waitFor("no album named \"Caf\xc3\xa9\"")) << terminal.screen();
  terminal.type("quit\n");
  EXPECT_EQ(terminal.waitExit(), 0);
  EXPECT_TRUE(terminal.cooked()) << "the shell gets its terminal back as it was";
}

}  // namespace

// The console as a person or a pipe types at it: what it prints back cannot
// drive the terminal, long lines are refused without stopping the program,
// and completion offers commands and their arguments.
#include "device/console.h"

#include <gtest/gtest.h>

#include "platform/dispatch/run_loop.h"

namespace program {
namespace {

TEST(Printable, EscapesWhatATerminalWouldObeyAndKeepsText) {
  EXPECT_EQ(printable("tap Recently Deleted"), "tap Recently Deleted");
  EXPECT_EQ(printable("caf\xc3\xa9 \xe6\xbc\xa2 \xf0\x9f\x94\x92"),
            "caf\xc3\xa9 \xe6\xbc\xa2 \xf0\x9f\x94\x92");
  EXPECT_EQ(printable("\x1b]0;X\x07"), "\\x1b]0;X\\x07");
  EXPECT_EQ(printable("a\tb\r\n\x7f"), "a\\x09b\\x0d\\x0a\\x7f");
  // Not UTF-8: a stray byte, a truncated sequence, an overlong '/', a surrogate.
  EXPECT_EQ(printable("\xff"), "\\xff");
  EXPECT_EQ(printable("\xe6\xbc"), "\\xe6\\xbc");
  EXPECT_EQ(printable("\xc0\xaf"), "\\xc0\\xaf");
  EXPECT_EQ(printable("\xed\xa0\x80"), "\\xed\\xa0\\x80");
  // A C1 control (CSI, U+009B) is valid UTF-8 but still a control.
  EXPECT_EQ(printable("\xc2\x9b"
                      "2J"),
            "\\xc2\\x9b2J");
}

class ConsoleInput : public ::testing::Test {
 protected:
  void SetUp() override {
    dispatch::markMainThread();
    console_.add("echo", {"echo <text>", "says it back", [this](const std::string& rest) {
                            seen_.push_back(rest);
                            print("echo " + rest);
                            return CommandResult();
                          }});
    console_.add("tap", {"tap <album>", "", [](const std::string&) { return CommandResult(); },
                         [] {
                           return std::vector<std::string>{"Hidden", "Holidays", "Recents"};
                         }});
  }

  std::string run(std::string_view bytes) {
    testing::internal::CaptureStdout();
    console_.take(bytes);
    return testing::internal::GetCapturedStdout();
  }

  Console console_{"test"};
  std::vector<std::string> seen_;
};

TEST_F(ConsoleInput, LinesSplitAcrossReadsRunOnceWhole) {
  EXPECT_EQ(run("ec"), "");
  EXPECT_EQ(run("ho one\necho t"), "echo one\nok\n");
  EXPECT_EQ(run("wo\n"), "echo two\nok\n");
  EXPECT_EQ(seen_, (std::vector<std::string>{"one", "two"}));
}

TEST_F(ConsoleInput, AnOverlongLineIsRefusedAndTheNextOneRuns) {
  std::string just_fits = "echo " + std::string(kMaxLine - 5, 'x');
  EXPECT_EQ(run(just_fits + "\n"), "echo " + std::string(kMaxLine - 5, 'x') + "\nok\n");
  // Fed in pieces far past the limit: nothing runs, one error, then on as before.
  std::string out = run("echo " + std::string(3000, 'y'));
  for (int i = 0; i < 100; ++i) out += run(std::string(3000, 'y'));
  out += run("yyy\necho after\n");
  EXPECT_EQ(out, "error: the line is longer than 4096 bytes\necho after\nok\n");
  EXPECT_EQ(seen_.back(), "after");
  EXPECT_EQ(seen_.size(), 2u);
  // At the end of input a last line without its newline is answered, an
  // overlong one too.
  out = run("echo last");
  testing::internal::CaptureStdout();
  console_.endOfInput();
  EXPECT_EQ(out + testing::internal::GetCapturedStdout(), "echo last\nok\n");
  out = run("echo " + std::string(kMaxLine, 'z'));
  testing::internal::CaptureStdout();
  console_.endOfInput();
  EXPECT_EQ(out + testing::internal::GetCapturedStdout(),
            "error: the line is longer than 4096 bytes\n");
}

TEST_F(ConsoleInput, EchoedInputIsEscaped) {
  EXPECT_EQ(run("\x1b]0;X\x07\n"),
            "error: unknown command \"\\x1b]0;X\\x07\" (type help for the list)\n");
}

TEST_F(ConsoleInput, CompletesCommandsThenTheirArguments) {
  EXPECT_EQ(console_.complete("e"), std::vector<std::string>{"echo"});
  EXPECT_EQ(console_.complete("h"), std::vector<std::string>{"help"});
  EXPECT_EQ(console_.complete("tap H"), (std::vector<std::string>{"tap Hidden", "tap Holidays"}));
  EXPECT_EQ(console_.complete("tap Hid"), std::vector<std::string>{"tap Hidden"});
  EXPECT_TRUE(console_.complete("echo x").empty()) << "echo offers no arguments";
  EXPECT_TRUE(console_.complete("nothing ").empty());
}

}  // namespace
}  // namespace program

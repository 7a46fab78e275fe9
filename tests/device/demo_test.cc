// The demo runs to its end, says the same on every run, and says what the
// README quotes from it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/device_fixture.h"
#include "tests/support/picture.h"

namespace {

using testing_support::Lines;

Lines splitLines(const std::string& text) {
  Lines lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The demo's output on a fresh device, its root shown as `make demo` shows it.
std::string runDemo(const std::string& folder) {
  std::string root = folder + "/demo-device";
  std::string output;
  int status = testing_support::runProgram(
      {testing_support::binDirectory() + "/velmo-device", "demo", "--root", root}, &output);
  EXPECT_EQ(status, 0) << output;
  for (size_t at = 0; (at = output.find(root, at)) != std::string::npos;) {
    output.replace(at, root.size(), "build/demo-device");
  }
  return output;
}

std::filesystem::path sourceFolder() {
  const char* source = std::getenv("VELMO_SOURCE");
  return source != nullptr && *source != '\0' ? std::filesystem::path(source)
                                              : std::filesystem::path(VELMO_SOURCE_DIR);
}

// The lines of the README's demo transcript, without the "[...]" marks of
// what was left out and without blank lines.
Lines readmeTranscript() {
  std::filesystem::path readme = sourceFolder() / "README.md";
  std::ifstream in(readme);
  EXPECT_TRUE(in) << "no " << readme;
  Lines transcript;
  bool marked = false, inside = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("<!-- demo transcript", 0) == 0) {
      marked = true;
    } else if (marked && line.rfind("```", 0) == 0) {
      if (inside) break;
      inside = true;
    } else if (inside && !line.empty() && line != "[...]") {
      transcript.push_back(line);
    }
  }
  return transcript;
}

TEST(DemoTest, RunsToTheEndTheSameEachTimeAndSaysWhatTheReadmeQuotes) {
  std::string first = testing_support::makeTempDirectory("velmo-demo-test");
  std::string second = testing_support::makeTempDirectory("velmo-demo-test");
  std::string output = runDemo(first);
  EXPECT_EQ(runDemo(second), output) << "the demo's output changes from run to run";

  // The README's pictures are the demo's screens as today's drawing makes
  // them (`make screens` copies them into docs/). Drawing is deterministic;
  // the allowance, a pixel in 10,000, is for text smoothed differently by
  // another build of the font libraries, and is far below what a glyph
  // coming or going changes (the lock glyph alone is over 1,000 pixels).
  int pictures = 0;
  for (const auto& entry : std::filesystem::directory_iterator(sourceFolder() / "docs")) {
    if (entry.path().extension() != ".png") continue;
    // The page of velmo-device serve is the browser test's picture.
    if (entry.path().filename() == "web-page.png") continue;
    ++pictures;
    std::string made = first + "/demo-device/screens/" + entry.path().filename().string();
    ASSERT_TRUE(std::filesystem::exists(made)) << "the demo no longer makes " << entry.path();
    testing_support::Picture committed = testing_support::readPng(entry.path());
    testing_support::Picture today = testing_support::readPng(made);
    long allowed = static_cast<long>(committed.width) * committed.height / 10000;
    EXPECT_LE(testing_support::differingPixels(committed, today, 24), allowed)
        << entry.path() << " is not what the demo draws today: run make screens";
  }
  EXPECT_EQ(pictures, 3) << "the README shows three of the demo's screens";
  testing_support::removeTree(first);
  testing_support::removeTree(second);

  Lines said = splitLines(output);
  ASSERT_FALSE(said.empty());
  EXPECT_EQ(said.back(), "  build/bin/velmo-device tccd --root build/demo-device")
      << "the demo did not reach its end";

  Lines quoted = readmeTranscript();
  ASSERT_GT(quoted.size(), 20u) << "the README's transcript is missing";
  size_t next = 0;
  for (const std::string& line : quoted) {
    while (next < said.size() && said[next] != line) ++next;
    ASSERT_LT(next, said.size()) << "the README quotes a line the demo does not say here:\n"
                                 << line;
    ++next;
  }
}

}  // namespace

// The command loop of an interactive device program: one command per line on
// standard input, answers on standard output. Each command's answer ends with
// "ok" or "error: <reason>", printed once its effects have settled (posted
// main-queue tasks run, authentication replies delivered). Lines that happen
// on their own (a notification arriving) are printed whenever they happen,
// whole lines at a time.
//
// Thread safety: print() may be called from any thread; the rest runs on the
// main thread.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace program {

// Prints one line to standard output and flushes it.
void print(const std::string& line);

// What a command handler returns: "" for success, or the error's reason.
using CommandResult = std::string;
using Arguments = std::vector<std::string>;

class Console {
 public:
  struct Command {
    std::string usage;  // "tap <album title>"
    std::string help;   // one line
    std::function<CommandResult(const std::string& rest)> run;
  };

  explicit Console(std::string program) : program_(std::move(program)) {}
  void add(const std::string& name, Command command);
  // A command without arguments that prints the lines `lines` gives.
  void addListing(const std::string& name, const std::string& help,
                  std::function<std::vector<std::string>()> lines);
  // `quit`: ends run().
  void addQuit(const std::string& help);

  // Reads commands until standard input closes or `quit`; returns the exit code.
  int run();
  void quit() { quitting_ = true; }

  // Runs one line (for tests and the demo): prints the answer and "ok"/"error".
  void execute(const std::string& line);

 private:
  std::string program_;
  std::vector<std::string> order_;
  std::map<std::string, Command> commands_;
  std::string pending_;
  bool quitting_ = false;
};

// Splits "key value with spaces" into the first word and the rest.
std::pair<std::string, std::string> splitFirst(const std::string& text);
std::string trim(const std::string& text);

}  // namespace program

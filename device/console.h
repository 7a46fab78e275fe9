// The command loop of an interactive device program: one command per line on
// standard input, answers on standard output. Each command's answer ends with
// "ok" or "error: <reason>", printed once its effects have settled (posted
// main-queue tasks run, authentication replies delivered). Lines that happen
// on their own (a notification arriving) are printed whenever they happen,
// whole lines at a time.
//
// What is printed is printed safely: control characters, C1 controls and
// bytes that are not UTF-8 show as \xNN, so echoed input cannot drive the
// terminal. A line longer than kMaxLine bytes is answered with an error and
// dropped, without holding more than that in memory, and each read scans only
// the bytes it brought for the end of a line.
//
// On a terminal, libedit edits the line: history, and Tab completion of
// command names and of each command's arguments (album titles, row keys).
//
// Thread safety: print() may be called from any thread; the rest runs on the
// main thread.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace program {

inline constexpr std::size_t kMaxLine = 4096;

// Prints one line to standard output, made printable, and flushes it.
void print(const std::string& line);
// `text` with control characters, C1 controls and invalid UTF-8 as \xNN.
std::string printable(std::string_view text);

// What a command handler returns: "" for success, or the error's reason.
using CommandResult = std::string;
using Arguments = std::vector<std::string>;

class Console {
 public:
  struct Command {
    std::string usage;  // "tap <album title>"
    std::string help;   // one line
    std::function<CommandResult(const std::string& rest)> run;
    // What may follow the command's name, for completion (may be empty).
    std::function<std::vector<std::string>()> arguments = nullptr;
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

  // The whole lines that `line` (as typed so far) can be completed to.
  std::vector<std::string> complete(const std::string& line) const;

  // Takes bytes as read from standard input; runs each complete line.
  void take(std::string_view bytes);
  // The input has ended: a last line without its newline is answered too.
  void endOfInput();

 private:
  void finishLine(std::string line);

  std::string program_;
  std::vector<std::string> order_;
  std::map<std::string, Command> commands_;
  std::string pending_;
  std::size_t scanned_ = 0;  // pending_ has no newline before this
  bool overlong_ = false;    // the line being read went past kMaxLine
  bool quitting_ = false;
};

// Splits "key value with spaces" into the first word and the rest.
std::pair<std::string, std::string> splitFirst(const std::string& text);
std::string trim(const std::string& text);

}  // namespace program

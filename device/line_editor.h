// Line editing for a device program typed at on a terminal: libedit's
// readline interface in its callback form, so that the main run loop keeps
// serving notifications and replies while a person types. Gives history
// (up and down) and completion (Tab) of whole lines: the completer receives
// the line up to the cursor and returns the full lines it could become.
//
// Only one LineEditor exists at a time (libedit keeps one global state).
// Used only when standard input is a terminal; through pipes the console
// reads bytes itself.
//
// Thread safety: main thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace program {

class LineEditor {
 public:
  using Completer = std::function<std::vector<std::string>(const std::string& line)>;

  // `on_line` gets each line the person enters; `on_end` runs at end of input (Ctrl-D).
  LineEditor(const std::string& prompt, std::function<void(std::string)> on_line,
             std::function<void()> on_end, Completer completer);
  ~LineEditor();
  LineEditor(const LineEditor&) = delete;
  LineEditor& operator=(const LineEditor&) = delete;

  // Reads what the terminal has (call when standard input is readable).
  void readAvailable();

  // Around a line printed while the person may be typing: hides the line
  // being edited, then shows it again below the printed line.
  static void hideInput();
  static void showInput();
};

}  // namespace program

// Line editing for a device program typed at on a terminal: libedit's
// readline() on a reader thread of its own, so that the main run loop keeps
// serving notifications and replies while a person types, and no keystroke
// is lost to a busy main thread. Gives history (up and down) and completion
// (Tab) of whole lines: the completer receives the line up to the cursor and
// returns the full lines it could become.
//
// Each line entered is run on the main thread, and the next prompt appears
// only once it has been answered, so answers never land after a prompt.
// Lines that happen on their own while the person types are printed above
// the prompt (hideInput/showInput).
//
// Only one LineEditor exists at a time (libedit keeps one global state).
// Used only when standard input is a terminal; through pipes the console
// reads bytes itself.
//
// Thread safety: construct and destroy on the main thread. `on_line`,
// `on_end` and the completer run on the main thread; hideInput/showInput may
// be called from any thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace program {

class LineEditor {
 public:
  using Completer = std::function<std::vector<std::string>(const std::string& line)>;

  // `on_line` gets each line the person enters and says whether to read
  // another; `on_end` runs at end of input (Ctrl-D).
  LineEditor(const std::string& prompt, std::function<bool(std::string)> on_line,
             std::function<void()> on_end, Completer completer);
  // Leaves the reader thread behind if it is waiting for a key (the process
  // is about to end), giving the terminal back its own settings.
  ~LineEditor();
  LineEditor(const LineEditor&) = delete;
  LineEditor& operator=(const LineEditor&) = delete;

  // Around a line printed while the person may be typing: clears the
  // prompt's line, then shows the prompt and what was typed so far again
  // below the printed line.
  static void hideInput();
  static void showInput();
};

}  // namespace program

#include "device/line_editor.h"

// clang-format off
#include <cstdio>
#include <editline/readline.h>
// clang-format on

#include <cstdlib>
#include <cstring>

namespace program {
namespace {

struct EditorState {
  std::function<void(std::string)> onLine;
  std::function<void()> onEnd;
  LineEditor::Completer completer;
  std::vector<std::string> matches;  // of the completion in progress
  bool active = false;
};

EditorState& state() {
  static EditorState s;
  return s;
}

void lineEntered(char* line) {
  if (line == nullptr) {
    if (state().onEnd) state().onEnd();
    return;
  }
  std::string text(line);
  std::free(line);
  if (!text.empty()) add_history(text.c_str());
  if (state().onLine) state().onLine(std::move(text));
}

// libedit asks for the n-th candidate with state 0, 1, 2, ... until nullptr.
char* nextMatch(const char*, int index) {
  auto& matches = state().matches;
  if (index < 0 || static_cast<size_t>(index) >= matches.size()) return nullptr;
  return strdup(matches[static_cast<size_t>(index)].c_str());
}

char** completeLine(const char* text, int, int) {
  // The whole line is the word (no break characters), so candidates are whole lines.
  std::string line(rl_line_buffer != nullptr ? rl_line_buffer : "", static_cast<size_t>(rl_point));
  state().matches = state().completer ? state().completer(line) : std::vector<std::string>();
  rl_attempted_completion_over = 1;  // no file names
  if (state().matches.empty()) return nullptr;
  return rl_completion_matches(text, nextMatch);
}

}  // namespace

LineEditor::LineEditor(const std::string& prompt, std::function<void(std::string)> on_line,
                       std::function<void()> on_end, Completer completer) {
  state().onLine = std::move(on_line);
  state().onEnd = std::move(on_end);
  state().completer = std::move(completer);
  state().active = true;
  static char kNoBreaks[] = "\n";
  rl_basic_word_break_characters = kNoBreaks;
  rl_completer_word_break_characters = kNoBreaks;
  rl_completion_append_character = ' ';
  rl_attempted_completion_function = completeLine;
  using_history();
  rl_callback_handler_install(prompt.c_str(), lineEntered);
}

LineEditor::~LineEditor() {
  rl_callback_handler_remove();
  state() = EditorState();
}

void LineEditor::readAvailable() { rl_callback_read_char(); }

void LineEditor::hideInput() {
  if (!state().active) return;
  std::fputs("\r\x1b[K", stdout);
}

void LineEditor::showInput() {
  if (!state().active) return;
  rl_forced_update_display();
}

}  // namespace program

#include "device/line_editor.h"

// clang-format off
#include <cstdio>
#include <editline/readline.h>
// clang-format on

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/dispatch/run_loop.h"

namespace program {
namespace {

struct EditorState {
  std::mutex mu;
  std::condition_variable answered;
  bool waitingForKeys = false;  // the reader thread is inside readline()
  bool running = false;         // a line is being run on the main thread
  bool stopping = false;
  std::string prompt;
  std::function<void(std::string)> onLine;
  std::function<void()> onEnd;
  LineEditor::Completer completer;
  std::vector<std::string> matches;  // of the completion in progress (reader thread)
};

// Shared with the reader thread, which may outlive the editor at exit.
EditorState& state() {
  static auto* s = new EditorState();
  return *s;
}

// Runs on the main thread and waits for its result.
template <typename T>
T onMainThread(std::function<T()> work) {
  auto task = std::make_shared<std::packaged_task<T()>>(std::move(work));
  std::future<T> result = task->get_future();
  dispatch::RunLoop::main().post([task] { (*task)(); });
  return result.get();
}

// libedit asks for the n-th candidate with index 0, 1, 2, ... until nullptr.
char* nextMatch(const char*, int index) {
  auto& matches = state().matches;
  if (index < 0 || static_cast<size_t>(index) >= matches.size()) return nullptr;
  return strdup(matches[static_cast<size_t>(index)].c_str());
}

char** completeLine(const char* text, int, int) {
  // The whole line is the word (no break characters), so candidates are whole lines.
  std::string line(rl_line_buffer != nullptr ? rl_line_buffer : "", static_cast<size_t>(rl_point));
  rl_attempted_completion_over = 1;  // no file names
  state().matches = onMainThread<std::vector<std::string>>(
      [line] { return state().completer ? state().completer(line) : std::vector<std::string>(); });
  if (state().matches.empty()) return nullptr;
  return rl_completion_matches(text, nextMatch);
}

void readLines() {
  for (;;) {
    {
      std::lock_guard<std::mutex> g(state().mu);
      if (state().stopping) return;
      state().waitingForKeys = true;
    }
    char* line = readline(state().prompt.c_str());
    std::unique_lock<std::mutex> lock(state().mu);
    state().waitingForKeys = false;
    if (state().stopping) {
      std::free(line);
      return;
    }
    if (line == nullptr) {
      dispatch::RunLoop::main().post([] {
        if (state().onEnd) state().onEnd();
      });
      return;
    }
    std::string text(line);
    std::free(line);
    if (!text.empty()) add_history(text.c_str());
    state().running = true;
    dispatch::RunLoop::main().post([text = std::move(text)]() mutable {
      if (state().onLine) state().onLine(std::move(text));
      std::lock_guard<std::mutex> g(state().mu);
      state().running = false;
      state().answered.notify_all();
    });
    state().answered.wait(lock, [] { return !state().running || state().stopping; });
  }
}

}  // namespace

LineEditor::LineEditor(const std::string& prompt, std::function<void(std::string)> on_line,
                       std::function<void()> on_end, Completer completer) {
  EditorState& s = state();
  s.prompt = prompt;
  s.onLine = std::move(on_line);
  s.onEnd = std::move(on_end);
  s.completer = std::move(completer);
  s.stopping = false;
  static char kNoBreaks[] = "\n";
  rl_basic_word_break_characters = kNoBreaks;
  rl_completer_word_break_characters = kNoBreaks;
  rl_completion_append_character = ' ';
  rl_attempted_completion_function = completeLine;
  using_history();
  std::thread(readLines).detach();
}

LineEditor::~LineEditor() {
  std::lock_guard<std::mutex> g(state().mu);
  state().stopping = true;
  state().onLine = nullptr;
  state().onEnd = nullptr;
  state().answered.notify_all();
}

void LineEditor::hideInput() {
  std::lock_guard<std::mutex> g(state().mu);
  if (state().waitingForKeys) std::fputs("\r\x1b[K", stdout);
}

void LineEditor::showInput() {
  std::lock_guard<std::mutex> g(state().mu);
  // What was typed so far stays in the editor's buffer; the prompt shows again.
  if (state().waitingForKeys) std::fputs(state().prompt.c_str(), stdout);
}

}  // namespace program

#include "device/line_editor.h"

// clang-format off
#include <cstdio>
#include <editline/readline.h>
// clang-format on

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
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
  std::function<bool(std::string)> onLine;  // false: no more lines are read
  int wake[2] = {-1, -1};  // a byte here makes the reader redraw the prompt and the typed line
  bool haveTerminal = false;
  termios terminal{};  // the terminal's settings before the editor took it
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

// Decodes one UTF-8 sequence from its first byte on; a byte that does not
// start or continue a sequence is passed on as it is.
int decodeRest(int fd, unsigned char first) {
  int extra = (first & 0xE0) == 0xC0   ? 1
              : (first & 0xF0) == 0xE0 ? 2
              : (first & 0xF8) == 0xF0 ? 3
                                       : 0;
  if (extra == 0) return first;
  int code = first & (0x3F >> extra);
  for (int i = 0; i < extra; ++i) {
    unsigned char next;
    ssize_t n;
    while ((n = ::read(fd, &next, 1)) < 0 && errno == EINTR) {
    }
    if (n != 1 || (next & 0xC0) != 0x80) return first;
    code = (code << 6) | (next & 0x3F);
  }
  return code;
}

// libedit's key reader: waits for a key, and meanwhile redraws the prompt
// and what has been typed when a line was printed above them.
int readKey(FILE* in) {
  int fd = ::fileno(in);
  for (;;) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {state().wake[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return EOF;
    }
    if ((fds[1].revents & POLLIN) != 0) {
      char drained[64];
      while (::read(state().wake[0], drained, sizeof drained) > 0) {
      }
      rl_forced_update_display();
      std::fflush(stdout);
    }
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      unsigned char c;
      ssize_t n = ::read(fd, &c, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n != 1) return EOF;
      return decodeRest(fd, c);
    }
  }
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
      bool more = !state().onLine || state().onLine(std::move(text));
      std::lock_guard<std::mutex> g(state().mu);
      // After a line that ends the program the reader stops here, never
      // taking the terminal again for a prompt nobody will answer.
      if (!more) state().stopping = true;
      state().running = false;
      state().answered.notify_all();
    });
    state().answered.wait(lock, [] { return !state().running || state().stopping; });
  }
}

}  // namespace

LineEditor::LineEditor(const std::string& prompt, std::function<bool(std::string)> on_line,
                       std::function<void()> on_end, Completer completer) {
  EditorState& s = state();
  s.haveTerminal = ::tcgetattr(STDIN_FILENO, &s.terminal) == 0;
  if (s.wake[0] < 0 && ::pipe2(s.wake, O_CLOEXEC | O_NONBLOCK) != 0) s.wake[0] = s.wake[1] = -1;
  rl_getc_function = readKey;
  // Album titles need not be ASCII: the editor takes characters, not bytes,
  // as UTF-8 (the terminal's own locale when it names one).
  const char* ctype = std::setlocale(LC_CTYPE, "");
  if (ctype == nullptr || std::strcmp(ctype, "C") == 0 || std::strcmp(ctype, "POSIX") == 0) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
  }
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
  // The process is about to end with the reader still holding the terminal
  // in its own mode: the shell gets it back as it was.
  if (state().waitingForKeys && state().haveTerminal) {
    ::tcsetattr(STDIN_FILENO, TCSADRAIN, &state().terminal);
    std::fputs("\r\n", stdout);
    std::fflush(stdout);
  }
}

void LineEditor::hideInput() {
  std::lock_guard<std::mutex> g(state().mu);
  if (state().waitingForKeys) std::fputs("\r\x1b[K", stdout);
}

void LineEditor::showInput() {
  std::lock_guard<std::mutex> g(state().mu);
  if (!state().waitingForKeys) return;
  // The reader redraws the prompt and what was typed so far, below what was
  // just printed; without the pipe, at least the prompt shows again.
  std::fflush(stdout);
  if (state().wake[1] < 0 || ::write(state().wake[1], "r", 1) != 1) {
    std::fputs(state().prompt.c_str(), stdout);
  }
}

}  // namespace program

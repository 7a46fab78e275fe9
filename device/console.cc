#include "device/console.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <utility>

#include "device/line_editor.h"
#include "platform/dispatch/run_loop.h"
#include "platform/objc/runtime.h"

namespace program {
namespace {

void appendEscaped(std::string* out, unsigned char byte) {
  static const char kDigits[] = "0123456789abcdef";
  *out += "\\x";
  out->push_back(kDigits[byte >> 4]);
  out->push_back(kDigits[byte & 15]);
}

// The length of the well-formed UTF-8 sequence at text[i] (a lead byte of
// 0x80 or more) and its code point; 0 when it is not well formed (a stray
// continuation, a truncated sequence, an overlong form, a surrogate, or past
// U+10FFFF).
size_t utf8Sequence(std::string_view text, size_t i, uint32_t* code_point) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(i);
  size_t length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc0 ? 2 : 0;
  if (length == 0 || lead > 0xf4 || i + length > text.size()) return 0;
  uint32_t cp = lead & (0x7f >> length);
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xc0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3f);
  }
  static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kSmallest[length] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return 0;
  *code_point = cp;
  return length;
}

}  // namespace

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if (c < 0x20 || c == 0x7f) {
        appendEscaped(&out, c);
      } else {
        out.push_back(static_cast<char>(c));
      }
      ++i;
      continue;
    }
    uint32_t cp = 0;
    size_t length = utf8Sequence(text, i, &cp);
    if (length == 0 || (cp >= 0x80 && cp <= 0x9f)) {
      // Not UTF-8, or a C1 control that a terminal would obey: each byte escaped.
      size_t n = length == 0 ? 1 : length;
      for (size_t k = 0; k < n; ++k) appendEscaped(&out, static_cast<unsigned char>(text[i + k]));
      i += n;
      continue;
    }
    out.append(text.substr(i, length));
    i += length;
  }
  return out;
}

void print(const std::string& line) {
  static std::mutex lock;
  std::string safe = printable(line);
  std::lock_guard<std::mutex> g(lock);
  // A line that arrives while a person types goes above their prompt.
  LineEditor::hideInput();
  std::fwrite(safe.data(), 1, safe.size(), stdout);
  std::fputc('\n', stdout);
  LineEditor::showInput();
  std::fflush(stdout);
}

std::string trim(const std::string& text) {
  size_t b = text.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = text.find_last_not_of(" \t\r\n");
  return text.substr(b, e - b + 1);
}

std::pair<std::string, std::string> splitFirst(const std::string& text) {
  std::string t = trim(text);
  size_t space = t.find_first_of(" \t");
  if (space == std::string::npos) return {t, ""};
  return {t.substr(0, space), trim(t.substr(space))};
}

void Console::add(const std::string& name, Command command) {
  if (!commands_.count(name)) order_.push_back(name);
  commands_[name] = std::move(command);
}

void Console::addListing(const std::string& name, const std::string& help,
                         std::function<std::vector<std::string>()> lines) {
  add(name, {name, help, [lines = std::move(lines)](const std::string&) {
               for (const std::string& line : lines()) print(line);
               return CommandResult();
             }});
}

void Console::addQuit(const std::string& help) {
  add("quit", {"quit", help, [this](const std::string&) {
                 quit();
                 return CommandResult();
               }});
}

void Console::execute(const std::string& line) {
  auto [name, rest] = splitFirst(line);
  if (name.empty() || name[0] == '#') return;
  if (name == "help") {
    // Two columns, the second as far right as the longest usage needs.
    std::vector<std::pair<std::string, std::string>> rows;
    for (const std::string& n : order_) {
      const Command& c = commands_[n];
      rows.emplace_back(c.usage.empty() ? n : c.usage, c.help);
    }
    rows.emplace_back("help", "this list");
    size_t width = 0;
    for (const auto& row : rows) width = std::max(width, row.first.size());
    for (const auto& [usage, help] : rows) {
      print("  " + usage + std::string(width + 2 - usage.size(), ' ') + help);
    }
    print("ok");
    return;
  }
  auto it = commands_.find(name);
  if (it == commands_.end()) {
    print("error: unknown command \"" + name + "\" (type help for the list)");
    return;
  }
  CommandResult result;
  {
    objc::AutoreleasePool pool;
    result = it->second.run(rest);
  }
  if (!dispatch::RunLoop::main().settle()) {
    print("error: timed out waiting for " + name + " to settle");
    return;
  }
  print(result.empty() ? "ok" : "error: " + result);
}

std::vector<std::string> Console::complete(const std::string& line) const {
  std::vector<std::string> out;
  size_t space = line.find(' ');
  if (space == std::string::npos) {
    for (const std::string& name : order_) {
      if (name.rfind(line, 0) == 0) out.push_back(name);
    }
    if (std::string("help").rfind(line, 0) == 0) out.push_back("help");
    return out;
  }
  std::string name = line.substr(0, space);
  std::string typed = line.substr(space + 1);
  auto it = commands_.find(name);
  if (it == commands_.end() || !it->second.arguments) return out;
  for (const std::string& argument : it->second.arguments()) {
    if (argument.rfind(typed, 0) == 0) out.push_back(name + " " + argument);
  }
  return out;
}

void Console::finishLine(std::string line) {
  if (line.size() > kMaxLine) {
    print("error: the line is longer than " + std::to_string(kMaxLine) + " bytes");
    return;
  }
  execute(line);
}

void Console::take(std::string_view bytes) {
  pending_.append(bytes);
  while (!quitting_) {
    size_t nl = pending_.find('\n', scanned_);
    if (nl == std::string::npos) {
      // Past the limit the rest of the line is not kept, only remembered.
      if (pending_.size() > kMaxLine) {
        overlong_ = true;
        pending_.clear();
      }
      scanned_ = pending_.size();
      return;
    }
    std::string line = pending_.substr(0, nl);
    pending_.erase(0, nl + 1);
    scanned_ = 0;
    if (std::exchange(overlong_, false)) line.assign(kMaxLine + 1, ' ');
    finishLine(std::move(line));
  }
}

void Console::endOfInput() {
  if ((!overlong_ && pending_.empty()) || quitting_) return;
  std::string rest = std::exchange(pending_, "");
  scanned_ = 0;
  if (std::exchange(overlong_, false)) rest.assign(kMaxLine + 1, ' ');
  finishLine(std::move(rest));
}

int Console::run() {
  auto& loop = dispatch::RunLoop::main();
  bool closed = false;
  std::unique_ptr<LineEditor> editor;
  if (isatty(STDIN_FILENO)) {
    editor = std::make_unique<LineEditor>(
        program_ + "> ",
        [this](std::string line) {
          finishLine(std::move(line));
          return !quitting_;
        },
        [&] { closed = true; }, [this](const std::string& line) { return complete(line); });
  } else {
    loop.watch(STDIN_FILENO, [&] {
      char buf[4096];
      ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
      if (n <= 0) {
        closed = true;
        loop.unwatch(STDIN_FILENO);
        endOfInput();
        return;
      }
      take(std::string_view(buf, static_cast<size_t>(n)));
    });
  }
  while (!closed && !quitting_) loop.runOnce(-1);
  if (!editor) loop.unwatch(STDIN_FILENO);
  editor.reset();
  return 0;
}

}  // namespace program

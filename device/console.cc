#include "device/console.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <utility>

#include "platform/dispatch/run_loop.h"
#include "platform/objc/runtime.h"

namespace program {

void print(const std::string& line) {
  static std::mutex lock;
  std::lock_guard<std::mutex> g(lock);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
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

int Console::run() {
  auto& loop = dispatch::RunLoop::main();
  bool closed = false;
  loop.watch(STDIN_FILENO, [&] {
    char buf[4096];
    ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) {
      closed = true;
      loop.unwatch(STDIN_FILENO);
      if (!pending_.empty()) execute(std::exchange(pending_, ""));
      return;
    }
    pending_.append(buf, static_cast<size_t>(n));
    size_t nl;
    while (!quitting_ && (nl = pending_.find('\n')) != std::string::npos) {
      std::string line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      execute(line);
    }
  });
  while (!closed && !quitting_) loop.runOnce(-1);
  loop.unwatch(STDIN_FILENO);
  return 0;
}

}  // namespace program

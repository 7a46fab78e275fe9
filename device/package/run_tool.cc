#include "device/package/run_tool.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

extern char** environ;

namespace package {
namespace {

constexpr size_t kMaxErrors =
    64 * 1024;  // kept of a tool's error output; the rest is read and dropped

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

std::string lastLine(const std::string& text) {
  size_t end = text.find_last_not_of("\n ");
  if (end == std::string::npos) return "";
  size_t start = text.rfind('\n', end);
  return text.substr(start == std::string::npos ? 0 : start + 1,
                     end - (start == std::string::npos ? 0 : start + 1) + 1);
}

ToolResult runTool(const ToolRun& run) {
  ToolResult result;
  if (run.argv.empty()) {
    result.errors = "no program to run";
    return result;
  }
  std::vector<std::string> args = run.argv;
  // The added variables replace any of the same name.
  std::vector<std::string> env = run.environment;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string_view var(*e);
    bool replaced = false;
    for (const std::string& added : run.environment) {
      std::string_view name = std::string_view(added).substr(0, added.find('=') + 1);
      replaced = replaced || var.rfind(name, 0) == 0;
    }
    if (!replaced) env.emplace_back(*e);
  }
  std::vector<char*> argv = pointers(args);
  std::vector<char*> envp = pointers(env);

  int err_pipe[2] = {-1, -1};
  if (run.capture_stderr && pipe2(err_pipe, O_CLOEXEC) != 0) {
    result.errors = std::string("cannot make a pipe: ") + std::strerror(errno);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (!run.stdout_file.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, run.stdout_file.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  if (run.capture_stderr) posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);

  pid_t pid = 0;
  bool search = run.argv[0].find('/') == std::string::npos;
  int started = search ? posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data())
                       : posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (run.capture_stderr) close(err_pipe[1]);
  if (started != 0) {
    if (run.capture_stderr) close(err_pipe[0]);
    result.errors = "cannot start " + run.argv[0] + ": " + std::strerror(started);
    return result;
  }
  if (run.capture_stderr) {
    char buf[4096];
    while (true) {
      ssize_t n = read(err_pipe[0], buf, sizeof buf);
      if (n > 0) {
        if (result.errors.size() < kMaxErrors) result.errors.append(buf, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        break;
      }
    }
    close(err_pipe[0]);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      result.errors = std::string("cannot wait for ") + run.argv[0] + ": " + std::strerror(errno);
      return result;
    }
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace package

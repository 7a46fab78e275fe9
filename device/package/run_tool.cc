#include "device/package/run_tool.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
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

// Reads `fd` to its end, keeping the first kMaxErrors bytes in `errors`.
void readErrors(int fd, std::string* errors) {
  char buf[4096];
  while (true) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      if (errors->size() < kMaxErrors) errors->append(buf, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
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

  // With the output read through a pipe, the error output goes to a memory
  // file instead of a second pipe, which a child could fill while this reads
  // the first.
  const bool piped = static_cast<bool>(run.read_stdout);
  int err_pipe[2] = {-1, -1};
  int out_pipe[2] = {-1, -1};
  if (piped) {
    err_pipe[0] = memfd_create("tool-errors", MFD_CLOEXEC);
    if (err_pipe[0] < 0 || pipe2(out_pipe, O_CLOEXEC) != 0) {
      result.errors = std::string("cannot make a pipe: ") + std::strerror(errno);
      if (err_pipe[0] >= 0) close(err_pipe[0]);
      return result;
    }
    err_pipe[1] = dup(err_pipe[0]);  // closed after the start, as a pipe's end is
  } else if (run.capture_stderr && pipe2(err_pipe, O_CLOEXEC) != 0) {
    result.errors = std::string("cannot make a pipe: ") + std::strerror(errno);
    return result;
  }
  const bool capture = piped || run.capture_stderr;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (piped) {
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
  } else if (!run.stdout_file.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, run.stdout_file.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  if (capture) posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);

  pid_t pid = 0;
  bool search = run.argv[0].find('/') == std::string::npos;
  int started = search ? posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data())
                       : posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (capture) close(err_pipe[1]);
  if (piped) close(out_pipe[1]);
  if (started != 0) {
    if (capture) close(err_pipe[0]);
    if (piped) close(out_pipe[0]);
    result.errors = "cannot start " + run.argv[0] + ": " + std::strerror(started);
    return result;
  }
  if (piped) {
    result.read_error = run.read_stdout(out_pipe[0]);
    close(out_pipe[0]);  // a child still writing ends with SIGPIPE
  }
  // A pipe's error output is read until the child closes it; a memory file's
  // once the child has ended.
  if (capture && !piped) readErrors(err_pipe[0], &result.errors);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      if (capture) close(err_pipe[0]);
      result.errors = std::string("cannot wait for ") + run.argv[0] + ": " + std::strerror(errno);
      return result;
    }
  }
  if (piped) {
    lseek(err_pipe[0], 0, SEEK_SET);
    readErrors(err_pipe[0], &result.errors);
  }
  if (capture) close(err_pipe[0]);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace package

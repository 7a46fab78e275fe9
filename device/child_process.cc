#include "device/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace program {
namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

pid_t spawn(const std::vector<std::string>& argv, int* in, int* out, bool merge_stderr) {
  int to_child[2], from_child[2];
  if (pipe2(to_child, O_CLOEXEC) != 0 || pipe2(from_child, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  // The argument list is made before fork: in a program with other threads
  // the child may call only async-signal-safe functions, so no allocation.
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    // The program starts with the default signal handling, whatever the
    // parent blocks or ignores (a server ignores SIGPIPE, blocks SIGINT).
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &standard, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    dup2(to_child[0], STDIN_FILENO);
    dup2(from_child[1], STDOUT_FILENO);
    if (merge_stderr) dup2(from_child[1], STDERR_FILENO);
    execv(args[0], args.data());
    _exit(127);
  }
  if (pid < 0) {
    for (int fd : {to_child[0], to_child[1], from_child[0], from_child[1]}) close(fd);
    throw std::runtime_error("fork failed");
  }
  close(to_child[0]);
  close(from_child[1]);
  *in = to_child[1];
  *out = from_child[0];
  return pid;
}

}  // namespace

std::string makeTempDirectory(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
  char* made = mkdtemp(pattern.data());
  if (made == nullptr) throw std::runtime_error("mkdtemp failed");
  return made;
}

void removeTree(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

int runProgram(const std::vector<std::string>& argv, std::string* output, int timeout_ms) {
  int in, out;
  pid_t pid = spawn(argv, &in, &out, true);
  close(in);
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  char buf[4096];
  while (true) {
    pollfd p{out, POLLIN, 0};
    int r = poll(&p, 1, remainingMs(deadline));
    if (r <= 0) {
      kill(pid, SIGKILL);
      break;
    }
    ssize_t n = read(out, buf, sizeof buf);
    if (n <= 0) break;
    if (output) output->append(buf, static_cast<size_t>(n));
  }
  close(out);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

DeviceProcess::DeviceProcess(const std::vector<std::string>& argv) {
  pid_ = spawn(argv, &in_, &out_, false);
}

DeviceProcess::~DeviceProcess() {
  if (!reaped_) {
    if (finish(5000) == 1000) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  if (in_ >= 0) close(in_);
  if (out_ >= 0) close(out_);
}

bool DeviceProcess::readLine(std::string* line, int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (true) {
    size_t nl = buffer_.find('\n');
    if (nl != std::string::npos) {
      *line = buffer_.substr(0, nl);
      buffer_.erase(0, nl + 1);
      seen.push_back(*line);
      return true;
    }
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, remainingMs(deadline)) <= 0) return false;
    char buf[4096];
    ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) return false;
    buffer_.append(buf, static_cast<size_t>(n));
  }
}

std::vector<std::string> DeviceProcess::command(const std::string& line, int timeout_ms) {
  std::string text = line + "\n";
  if (write(in_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return {"timeout"};
  std::vector<std::string> answer;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string got;
  while (readLine(&got, remainingMs(deadline))) {
    answer.push_back(got);
    if (got == "ok" || got.rfind("error:", 0) == 0) return answer;
  }
  answer.push_back("timeout");
  return answer;
}

bool DeviceProcess::send(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(in_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string DeviceProcess::waitForLine(const std::string& prefix, int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string got;
  while (readLine(&got, remainingMs(deadline))) {
    if (got.rfind(prefix, 0) == 0) return got;
  }
  return "";
}

std::vector<std::string> DeviceProcess::drain(int timeout_ms) {
  std::vector<std::string> lines;
  std::string got;
  while (readLine(&got, timeout_ms)) lines.push_back(got);
  return lines;
}

int DeviceProcess::waitExit(int timeout_ms) {
  if (reaped_) return WIFEXITED(status_) ? WEXITSTATUS(status_) : -WTERMSIG(status_);
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (true) {
    pid_t r = waitpid(pid_, &status_, WNOHANG);
    if (r == pid_) {
      reaped_ = true;
      return WIFEXITED(status_) ? WEXITSTATUS(status_) : -WTERMSIG(status_);
    }
    if (remainingMs(deadline) == 0) return 1000;
    usleep(10000);
  }
}

int DeviceProcess::finish(int timeout_ms) {
  if (in_ >= 0) {
    close(in_);
    in_ = -1;
  }
  return waitExit(timeout_ms);
}

std::vector<std::string> body(const std::vector<std::string>& answer) {
  std::vector<std::string> lines(answer);
  if (!lines.empty() && lines.back() == "ok") lines.pop_back();
  return lines;
}

}  // namespace program

// A device program run as a child process: its standard input and output are
// pipes, so the demo (or a test) can send commands and read the answers, with
// timeouts that turn a hang into a failure.
//
// Ownership: the DeviceProcess owns the child; destroying it closes the
// child's input and waits for it (killing it if it does not end in time).
//
// Thread safety: none; use from one thread.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace program {

// A new empty folder under the system's temporary folder, removed by the caller.
std::string makeTempDirectory(const std::string& prefix);
void removeTree(const std::string& path);

// Runs a program to its end; returns its exit code and collects its output.
int runProgram(const std::vector<std::string>& argv, std::string* output, int timeout_ms = 20000);

class DeviceProcess {
 public:
  explicit DeviceProcess(const std::vector<std::string>& argv);
  ~DeviceProcess();
  DeviceProcess(const DeviceProcess&) = delete;
  DeviceProcess& operator=(const DeviceProcess&) = delete;

  // Sends one command and returns every line it answered, up to and including
  // the closing "ok" or "error: ..." line. Lines printed on their own before
  // the answer are included. Returns {"timeout"} when no answer comes.
  std::vector<std::string> command(const std::string& line, int timeout_ms = 15000);
  // Sends `text` (one or more lines, each ending in "\n") without waiting for
  // an answer; false when the child does not take it all. The caller keeps the
  // answers it has not read under 64 KiB, or the child stops to wait for it.
  bool send(const std::string& text);
  // The next line of output, or false when none comes within `timeout_ms`.
  bool nextLine(std::string* line, int timeout_ms = 15000) { return readLine(line, timeout_ms); }
  // Waits for a line that starts with `prefix`; returns it, or "" on timeout.
  // Lines read meanwhile are kept in `seen` for the test to inspect.
  std::string waitForLine(const std::string& prefix, int timeout_ms = 15000);
  // Reads whatever lines arrive within `timeout_ms`.
  std::vector<std::string> drain(int timeout_ms);
  // Closes the input and waits for the exit code (-signal when killed).
  int finish(int timeout_ms = 15000);
  // Waits for the process to end on its own; returns the exit code or -signal,
  // or 1000 when it is still running after `timeout_ms`.
  int waitExit(int timeout_ms);
  pid_t pid() const { return pid_; }
  // The read end of the child's output, for poll(); lines are read through
  // drain() or the other calls, which also return lines already buffered.
  int outputFd() const { return out_; }

  std::vector<std::string> seen;

 private:
  bool readLine(std::string* line, int timeout_ms);
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string buffer_;
  int status_ = 0;
  bool reaped_ = false;
};

// The lines of an answer without its closing "ok".
std::vector<std::string> body(const std::vector<std::string>& answer);

}  // namespace program

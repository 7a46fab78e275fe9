// Starts a program of the machine (dpkg-deb, a maintainer script) as a child
// process from an argument vector, never through a shell, and waits for it.
//
// Thread safety: any thread; the call blocks until the child has ended.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace package {

struct ToolRun {
  std::vector<std::string> argv;         // argv[0] is looked up in PATH when it has no '/'
  std::vector<std::string> environment;  // "NAME=value" added to this process's environment
  std::string stdout_file;               // the child's output goes here; "" keeps ours
  bool capture_stderr = true;            // collect its error output into `errors`
  // When set, the child's output goes to a pipe that this reads while the
  // child runs (instead of `stdout_file`); an error it returns becomes the
  // run's `errors`, and the child, its pipe closed, ends.
  std::function<std::string(int fd)> read_stdout;
};

struct ToolResult {
  int status = -1;         // exit code; 128 + signal when killed; -1 when it did not start
  std::string errors;      // its error output, or why it did not start
  std::string read_error;  // what `read_stdout` returned
};

ToolResult runTool(const ToolRun& run);

// "dpkg-deb: error: ..." from a run's error output: its last non-empty line.
std::string lastLine(const std::string& text);

}  // namespace package

// A stand-in for a program that code under test starts (the system's killall):
// it ends nothing, and appends one line to "<its own path>.log": its argument
// vector as given, argv[0] included, then " env " and each variable when it
// was given an environment at all. The log sits beside the program, so each
// device's copy keeps its own.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

int main(int argc, char** argv, char** envp) {
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 1;
  std::string line;
  for (int i = 0; i < argc; ++i) line += (i == 0 ? "" : " ") + std::string(argv[i]);
  if (envp != nullptr && *envp != nullptr) {
    line += " env";
    for (char** e = envp; *e != nullptr; ++e) line += " " + std::string(*e);
  }
  FILE* log = std::fopen((std::string(self, static_cast<size_t>(n)) + ".log").c_str(), "a");
  if (log == nullptr) return 1;
  std::fprintf(log, "%s\n", line.c_str());
  return std::fclose(log) == 0 ? 0 : 1;
}

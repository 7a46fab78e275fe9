// velmo-device: the simulated device's programs, one subcommand each.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "device/programs.h"

namespace {

struct Subcommand {
  const char* name;
  int (*run)(const program::Options&);
  std::vector<std::string> valued;
  std::vector<std::string> bare;
  const char* usage;
};

const Subcommand kSubcommands[] = {
    {"init",
     program::initMain,
     {"--root", "--model", "--system-version", "--passcode", "--biometry"},
     {"--no-passcode", "--bare"},
     "init --root DIR [--model iPhone|iPad] [--system-version V] [--passcode CODE | --no-passcode] "
     "[--biometry face|none] [--bare]"},
    {"install", program::installMain, {"--root"}, {"--help"}, "install --root DIR PACKAGE.deb"},
    {"remove", program::removeMain, {"--root"}, {"--help"}, "remove --root DIR PACKAGE"},
    {"photos", program::photosMain, {"--root"}, {}, "photos --root DIR"},
    {"settings", program::settingsMain, {"--root"}, {}, "settings --root DIR"},
    {"tccd", program::tccdMain, {"--root"}, {}, "tccd --root DIR"},
    {"notify", program::notifyMain, {"--root"}, {"--watch"}, "notify --root DIR [--watch] NAME"},
    {"clock", program::clockMain, {"--root"}, {}, "clock --root DIR [advance <N>s|m|h|d]"},
    {"reset-passcode-record",
     program::resetPasscodeRecordMain,
     {"--root", "--passcode"},
     {},
     "reset-passcode-record --root DIR --passcode CODE  (a new passcode record, when it went "
     "missing)"},
    {"demo", program::demoMain, {"--root"}, {}, "demo [--root DIR]"},
    {"serve",
     program::serveMain,
     {"--root", "--port", "--model", "--system-version", "--passcode", "--biometry"},
     {"--no-passcode"},
     "serve --root DIR [--port N] [init's flags for a new device]"},
};

int usage(FILE* out) {
  std::fprintf(out, "usage: velmo-device <command> ...\n");
  for (const auto& s : kSubcommands) std::fprintf(out, "  velmo-device %s\n", s.usage);
  return out == stdout ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage(stderr);
  std::string name = argv[1];
  if (name == "help" || name == "--help" || name == "-h") return usage(stdout);
  for (const auto& s : kSubcommands) {
    if (name != s.name) continue;
    // The Photos app runs as a process named MobileSlideShow, so that
    // `killall MobileSlideShow` finds it by its name and its command line.
    if (name == "photos" && std::strcmp(argv[0], "MobileSlideShow") != 0) {
      std::vector<char*> args(argv, argv + argc);
      args[0] = const_cast<char*>("MobileSlideShow");
      args.push_back(nullptr);
      execv("/proc/self/exe", args.data());
      std::perror("velmo-device: cannot start MobileSlideShow");
      return 1;
    }
    std::string error;
    program::Options options = program::parseOptions(argc, argv, 2, s.valued, s.bare, &error);
    if (!error.empty()) {
      std::fprintf(stderr, "velmo-device %s: %s\nusage: velmo-device %s\n", s.name, error.c_str(),
                   s.usage);
      return 2;
    }
    return s.run(options);
  }
  std::fprintf(stderr, "velmo-device: unknown command \"%s\"\n", name.c_str());
  return usage(stderr);
}

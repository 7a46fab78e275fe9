// The subcommands of velmo-device. Each returns the process's exit code.
#pragma once

#include "device/options.h"

namespace program {

int initMain(const Options& options);
int photosMain(const Options& options);
int settingsMain(const Options& options);
int tccdMain(const Options& options);
int notifyMain(const Options& options);
int demoMain(const Options& options);
int clockMain(const Options& options);
int resetPasscodeRecordMain(const Options& options);
int installMain(const Options& options);
int removeMain(const Options& options);
int serveMain(const Options& options);

class Console;
// The Settings app's commands (open, show, switch, set), added to `console`.
// The app they drive lives as long as the commands. The device root must be
// set and the main thread marked first.
void addSettingsCommands(Console& console);

}  // namespace program

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
int installMain(const Options& options);
int removeMain(const Options& options);

}  // namespace program

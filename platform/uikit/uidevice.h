// UIDevice: the device the process runs on. +currentDevice is one shared
// object; -model ("iPhone", "iPad"), -systemName ("iOS"), -systemVersion
// ("16.4.1") and -userInterfaceIdiom (UIUserInterfaceIdiomPhone or ...Pad,
// from the model) answer from the device's configuration (device.plist under
// the device root), read afresh on each call.
//
// Thread safety: safe from any thread.
#pragma once

#include "platform/objc/nsobject.h"

enum UIUserInterfaceIdiom : long {
  UIUserInterfaceIdiomPhone = 0,
  UIUserInterfaceIdiomPad = 1,
};

struct UIDevice : NSObject {};

namespace uikit {
Class deviceClass();
}  // namespace uikit

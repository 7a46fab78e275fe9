// NSIndexPath: a row in a section of a table. +indexPathForRow:inSection:
// (long, long), -row, -section, -isEqual:. It describes itself as
// "section 0 row 2".
//
// Thread safety: immutable; safe from any thread.
#pragma once

#include "platform/objc/nsobject.h"

struct NSIndexPath : NSObject {
  long section = 0;
  long row = 0;
};

namespace uikit {
Class indexPathClass();
}  // namespace uikit

// NSAttributedString: text made of runs, each either plain text or one text
// attachment. -string answers the text with U+FFFC (the object replacement
// character) for each attachment, and -length its length in UTF-16 units, as
// the platform counts.
//
//   -initWithString:                  plain text (nil gives nil)
//   +attributedStringWithAttachment:  one attachment and nothing else
//   -string, -length, -isEqual:, -isEqualToAttributedString:, -copy
//
// It describes itself as its text with each attachment shown as its
// description: a lock badge reads "[lock.fill systemGrayColor]", a count
// badge "7".
//
// Ownership: an attributed string keeps its attachments.
//
// Thread safety: immutable once made; safe from any thread.
#pragma once

#include <string>
#include <vector>

#include "platform/objc/nsobject.h"
#include "platform/uikit/nstextattachment.h"

struct NSAttributedString : NSObject {
  struct Run {
    std::string text;                     // UTF-8; empty for an attachment run
    Strong<NSTextAttachment> attachment;  // nil for a text run
  };
  std::vector<Run> runs;
};

namespace uikit {

Class attributedStringClass();

// A new plain attributed string owned by the caller.
Strong<NSAttributedString> newAttributedString(std::string_view text);
// What an attributed string describes itself as; "nil" for nil.
std::string describeAttributedString(id string);

}  // namespace uikit

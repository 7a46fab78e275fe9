// UILabel (a UIView): a line of text, plain or attributed.
//
//   -text/-setText: (NSString), -attributedText/-setAttributedText:
//   (NSAttributedString; setting one replaces the other, as on the platform),
//   -font/-setFont: (default regular 17), -textColor/-setTextColor: (default
//   labelColor), -textAlignment/-setTextAlignment: (long, default
//   NSTextAlignmentNatural)
//
// It describes itself as `label "<text>"` with attachments shown as their
// images (see NSAttributedString), then its font, colour and any alignment
// but natural: `label "Velmo" bold 18 labelColor center`.
//
// Thread safety: main thread only.
#pragma once

#include "platform/uikit/nsattributedstring.h"
#include "platform/uikit/uicolor.h"
#include "platform/uikit/uifont.h"
#include "platform/uikit/uiview.h"

enum NSTextAlignment : long {
  NSTextAlignmentLeft = 0,
  NSTextAlignmentCenter = 1,
  NSTextAlignmentRight = 2,
  NSTextAlignmentJustified = 3,
  NSTextAlignmentNatural = 4,
};

struct UILabel : UIView {
  Strong<NSAttributedString> attributedText;  // nil when the label has no text
  Strong<UIFont> font;
  Strong<UIColor> textColor;
  long textAlignment = NSTextAlignmentNatural;
};

namespace uikit {

Class labelClass();
// The label's text as it reads on screen (attachments described); "" when empty.
std::string labelText(UILabel* label);

}  // namespace uikit

// UILabel (a UIView): a line of text, plain or attributed.
//
//   -text/-setText: (NSString), -attributedText/-setAttributedText:
//   (NSAttributedString; setting one replaces the other, as on the platform),
//   -font/-setFont: (default regular 17), -textColor/-setTextColor: (default
//   labelColor), -textAlignment/-setTextAlignment: (long, default
//   NSTextAlignmentNatural), -numberOfLines/-setNumberOfLines: (long,
//   default 1; 0 wraps the text onto as many lines as it needs)
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
  long numberOfLines = 1;
};

namespace uikit {

Class labelClass();
// The label's text as it reads on screen (attachments described); "" when empty.
std::string labelText(UILabel* label);
// The size the label's text takes on screen, in points, measured with the
// fonts the screen is drawn with; wrapped at `max_width` when the label's
// numberOfLines is 0. A label without text measures zero.
CGSize labelTextSize(UILabel* label, double max_width);
// A new label showing `text` in `font` and `color`, owned by the caller.
Strong<UILabel> newLabel(const std::string& text, id font, id color);

}  // namespace uikit

// UITableView (a UIView) and UITableViewCell (a UIView).
//
// UITableView: -initWithFrame:style: (CGRect, long; a grouped table's
// background is systemGroupedBackgroundColor, a plain one's
// systemBackgroundColor), -tableHeaderView/
// -setTableHeaderView: (the header becomes the table's first subview; setting
// the same view again changes nothing), -dataSource/-setDataSource:,
// -delegate/-setDelegate: (not retained), -reloadData (does nothing: rows are
// asked for when needed), -dequeueReusableCellWithIdentifier: (nil: cells are
// not reused). It describes itself as "table" and its header.
// -layoutSubviews lays the whole table out, as it would show on screen: the
// header view centred at the top, then each section's header title, its
// rows (cells asked of the data source anew, 44 points high, with
// separators between them) and its footer text, the way the table's style
// draws them. Rows the screen cannot show are still made: the table does
// not scroll.
//
// UITableViewCell: -initWithStyle:reuseIdentifier: (long, id), -textLabel
// and -detailTextLabel (UILabels made on first use), -imageView (a
// UIImageView made on first use), -accessoryView/-setAccessoryView:,
// -accessoryType/-setAccessoryType: (long), -reuseIdentifier. Its
// -layoutSubviews places the image, the labels and the accessory in a row. It describes itself as
// `cell "<text>"`, then the detail text and the accessory view when present.
//
// Thread safety: main thread only.
#pragma once

#include <vector>
#include "platform/foundation/nsstring.h"

#include "platform/uikit/uiimageview.h"
#include "platform/uikit/uilabel.h"
#include "platform/uikit/uiview.h"

enum UITableViewStyle : long {
  UITableViewStylePlain = 0,
  UITableViewStyleGrouped = 1,
  UITableViewStyleInsetGrouped = 2,
};

enum UITableViewCellAccessoryType : long {
  UITableViewCellAccessoryNone = 0,
  UITableViewCellAccessoryDisclosureIndicator = 1,
};

enum UITableViewCellStyle : long {
  UITableViewCellStyleDefault = 0,
  UITableViewCellStyleValue1 = 1,
  UITableViewCellStyleValue2 = 2,
  UITableViewCellStyleSubtitle = 3,
};

struct UITableView : UIView {
  long style = UITableViewStylePlain;
  Strong<UIView> tableHeaderView;
  id dataSource = nullptr;  // not retained
  id delegate = nullptr;    // not retained
  // Where each section's rows sat at the last layout, in the table's coordinates.
  std::vector<CGRect> sectionFrames;
};

struct UITableViewCell : UIView {
  long style = UITableViewCellStyleDefault;
  Strong<NSString> reuseIdentifier;
  Strong<UILabel> textLabel;        // made on first use
  Strong<UILabel> detailTextLabel;  // made on first use
  Strong<UIImageView> imageView;    // made on first use
  Strong<UIView> accessoryView;
  long accessoryType = UITableViewCellAccessoryNone;
};

namespace uikit {

Class tableViewClass();
Class tableViewCellClass();

inline constexpr double kRowHeight = 44;
// Where a grouped table's rows start from its edges.
inline constexpr double kGroupedInset = 16;

}  // namespace uikit

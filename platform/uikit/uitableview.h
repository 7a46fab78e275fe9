// UITableView (a UIView) and UITableViewCell (a UIView).
//
// UITableView: -initWithFrame:style: (CGRect, long), -tableHeaderView/
// -setTableHeaderView: (the header becomes the table's first subview; setting
// the same view again changes nothing), -dataSource/-setDataSource:,
// -delegate/-setDelegate: (not retained), -reloadData (does nothing: rows are
// asked for when needed), -dequeueReusableCellWithIdentifier: (nil: cells are
// not reused). It describes itself as "table" and its header.
//
// UITableViewCell: -initWithStyle:reuseIdentifier: (long, id), -textLabel
// and -detailTextLabel (UILabels made on first use), -accessoryView/
// -setAccessoryView:, -reuseIdentifier. It describes itself as
// `cell "<text>"`, then the detail text and the accessory view when present.
//
// Thread safety: main thread only.
#pragma once

#include "platform/foundation/nsstring.h"
#include "platform/uikit/uilabel.h"
#include "platform/uikit/uiview.h"

enum UITableViewStyle : long {
  UITableViewStylePlain = 0,
  UITableViewStyleGrouped = 1,
  UITableViewStyleInsetGrouped = 2,
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
};

struct UITableViewCell : UIView {
  long style = UITableViewCellStyleDefault;
  Strong<NSString> reuseIdentifier;
  Strong<UILabel> textLabel;        // made on first use
  Strong<UILabel> detailTextLabel;  // made on first use
  Strong<UIView> accessoryView;
};

namespace uikit {

Class tableViewClass();
Class tableViewCellClass();

}  // namespace uikit

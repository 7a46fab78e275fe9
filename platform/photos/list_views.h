// The views of one row of the Photos app's album list.
//
// PXNavigationListBadgeView (a UIView): the badge at the row's end, showing
// the album's item count. -badgeTextLabel answers its label (a UILabel, made
// with the badge and one of its subviews).
//
// PXNavigationListCell (a UITableViewCell): the row. -badge answers its badge
// view (so valueForKey: @"badge" reaches it), -titleLabel the label with the
// album's title. Both are made with the cell and are its subviews.
//
// A cell describes itself as `cell "<title>" badge <badge text>`.
//
// The classes belong to the Photos app: photos::registerClasses() defines
// them (their accessors do too, on first use).
//
// Ownership: a cell keeps its badge and title label; a badge keeps its label.
//
// Thread safety: main thread only.
#pragma once

#include <string>

#include "platform/objc/nsobject.h"
#include "platform/uikit/uilabel.h"
#include "platform/uikit/uitableview.h"
#include "platform/uikit/uiview.h"

struct PXNavigationListBadgeView : UIView {
  Strong<UILabel> badgeTextLabel;
};

struct PXNavigationListCell : UITableViewCell {
  Strong<PXNavigationListBadgeView> badge;
  Strong<UILabel> titleLabel;
};

namespace photos {

Class badgeViewClass();
Class listCellClass();

// A new, empty cell owned by the caller.
Strong<PXNavigationListCell> newListCell();

// What the row shows: its title and its badge's text (attachments described
// as "[<symbol> <colour>]"; "" when the badge is empty).
std::string cellTitle(PXNavigationListCell* cell);
std::string cellBadgeText(PXNavigationListCell* cell);

}  // namespace photos

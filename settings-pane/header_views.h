// The pane's own views, built by -[VLPRootListController init]: the master
// switch in the navigation bar, the bold title in the navigation bar's title
// view, and the header above the rows, which shows the pane's image with a
// soft shadow.
#pragma once

#include "runtime/objc.h"

namespace vlp {

// Builds the views and stores them in the controller's properties
// (enableSwitch, item, titleLabel, headerView, headerImageView), wires the
// switch to -enableSwitchChanged, and activates the layout constraints in
// one call.
void buildHeaderViews(id controller);

// The accent colour: red 1.0, green 105/255, blue 180/255, alpha 1.0.
id accentColor();

}  // namespace vlp

// VLPRootListController: the pane's root controller, a PSListController. It
// shows the rows of the bundle's specifier list "Root", puts the master
// switch into the navigation bar, writes every change into the preferences
// domain com.qel.velmopreferences, and tells the tweak library: by the change
// notification for the option rows, by restarting the Photos app for the
// master switch (which the library reads only when it loads).
//
// Properties (strong, each with a getter and a setter): headerView (UIView),
// item (UIBarButtonItem), enableSwitch (UISwitch), titleLabel (UILabel),
// headerImageView (UIImageView).
//
// Methods: -init, -specifiers, -tableView:cellForRowAtIndexPath:,
// -enableSwitchChanged, -killPhotos, -viewDidLoad, -setEnabledState,
// -setPreferenceValue:specifier:.
//
// The class is registered when the plug-in is loaded.
//
// Ownership: the controller keeps its views through its properties; the
// switch names the controller as its target without retaining it.
//
// Thread safety: main thread only; -killPhotos defers its work to the main
// queue.
#pragma once

#include "platform/preferences/ps_list_controller.h"
#include "platform/uikit/uibarbuttonitem.h"
#include "platform/uikit/uicontrol.h"
#include "platform/uikit/uiimageview.h"
#include "platform/uikit/uilabel.h"
#include "platform/uikit/uiview.h"

struct VLPRootListController : PSListController {
  Strong<UIView> headerView;
  Strong<UIBarButtonItem> item;
  Strong<UISwitch> enableSwitch;
  Strong<UILabel> titleLabel;
  Strong<UIImageView> headerImageView;
};

namespace vlp {
Class rootListControllerClass();
}  // namespace vlp

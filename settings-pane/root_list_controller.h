// VLPRootListController: the pane's root controller, a subclass of
// PSListController made when the plug-in is loaded. It shows the rows of the
// bundle's specifier list "Root", puts the master switch into the navigation
// bar, writes every change into the preferences domain
// com.qel.velmopreferences, and tells the tweak library: by the change
// notification for the option rows, by restarting the Photos app for the
// master switch (which the library reads only when it loads).
//
// Properties (strong, each with a getter and a setter, kept in instance
// variables of the class): headerView (UIView), item (UIBarButtonItem),
// enableSwitch (UISwitch), titleLabel (UILabel), headerImageView
// (UIImageView).
//
// Methods: -init, -specifiers, -tableView:cellForRowAtIndexPath:,
// -enableSwitchChanged, -killPhotos, -viewDidLoad, -setEnabledState,
// -setPreferenceValue:specifier:, and -dealloc, which releases the
// properties.
//
// Ownership: the controller keeps its views through its properties; the
// switch names the controller as its target without retaining it.
//
// Thread safety: main thread only; -killPhotos defers its work to the main
// queue.
#pragma once

#include "runtime/objc.h"

namespace vlp {

// The class, made and registered on first use (the plug-in's load).
Class rootListControllerClass();

}  // namespace vlp

// PSListController (a UIViewController): a preference pane. It shows a list
// of specifiers as a grouped table: each PSGroupCell specifier starts a
// section (its label the header, its "footerText" the footer) and the
// specifiers after it are the section's rows.
//
//   -specifiers             the list; the base answers its storage, `_specifiers`
//   -setSpecifiers:         replaces the storage and reloads the table
//   -loadSpecifiersFromPlistName:target: (id, id)
//                           the rows of "<name>.plist" in the controller's
//                           bundle (its "items" array), each a new specifier
//                           whose target is `target`; an empty array when the
//                           bundle, the file or the array is missing. The
//                           plist's "title" becomes the controller's title.
//   -bundle/-setBundle:     the bundle the pane was loaded from (the Settings
//                           app sets it); -specifier/-setSpecifier: the row
//                           that opened the pane
//   -readPreferenceValue:   the value stored under the row's "key" in its
//                           "defaults" domain, else the row's "default"
//   -setPreferenceValue:specifier: (id, id)
//                           stores the value under the row's key in its
//                           domain through +[NSUserDefaults standardUserDefaults]
//                           -setObject:forKey:inDomain:, then -synchronize;
//                           a row without key or domain stores nothing
//   -specifierForID:, -indexPathForSpecifier:
//   -loadView               makes the table (-table) and makes it the view,
//                           with the controller as its data source
//   -viewDidLoad            the base does nothing more
//   table data source:      -numberOfSectionsInTableView:,
//                           -tableView:numberOfRowsInSection: (id, long) -> long,
//                           -tableView:cellForRowAtIndexPath: (id, id) -> a new
//                           PSTableCell for the row, filled through the row's
//                           getter, nil for a path outside the list,
//                           -tableView:titleForHeaderInSection:,
//                           -tableView:titleForFooterInSection: (id, long) -> id
//
// The data source reads the list through -specifiers, so a subclass that
// fills the storage lazily is asked first.
//
// Ownership: the controller keeps its specifiers, bundle, parent specifier and
// table. Its specifiers name it as their target without retaining it.
//
// Thread safety: main thread only.
#pragma once

#include <vector>

#include "platform/foundation/collections.h"
#include "platform/foundation/nsbundle.h"
#include "platform/preferences/ps_specifier.h"
#include "platform/uikit/uitableview.h"
#include "platform/uikit/uiviewcontroller.h"

struct PSListController : UIViewController {
  Strong<NSArray> _specifiers;
  Strong<NSBundle> bundle;
  Strong<PSSpecifier> specifier;
  Strong<UITableView> table;
};

namespace preferences {

Class listControllerClass();

// One section of the table: the group specifier that starts it (nil when the
// list does not start with a group) and its rows.
struct Section {
  PSSpecifier* group = nullptr;
  std::vector<PSSpecifier*> rows;
};
// The sections of a list of specifiers.
std::vector<Section> sectionsOf(id specifiers);

}  // namespace preferences

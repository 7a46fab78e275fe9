// PSSpecifier: one row of a preference list, described by a dictionary of
// properties as a bundle's specifier plist spells them:
//
//   "cell"        the row's kind: PSGroupCell, PSSwitchCell, PSEditTextCell, ...
//   "label"       the text the row shows (a group's header)
//   "key"         the preference key the row edits
//   "defaults"    the preferences domain the key lives in
//   "default"     the value shown while the domain has none
//   "footerText"  a group's footer
//
// A specifier also names a target (the list controller that shows it, not
// retained) and the target's setter and getter, by default
// -setPreferenceValue:specifier: and -readPreferenceValue:.
//
// Methods: +preferenceSpecifierNamed:target:set:get:detail:cell:edit: (id,
// id, SEL, SEL, id, long, id), +emptyGroupSpecifier, -properties,
// -propertyForKey:, -setProperty:forKey:, -name (the label), -identifier
// ("id", else "key", else the label), -cellType (long), -target, -setTarget:.
//
// Ownership: a specifier keeps its properties; it does not keep its target.
//
// Thread safety: main thread only.
#pragma once

#include <string>

#include "platform/foundation/collections.h"
#include "platform/objc/nsobject.h"

enum PSCellType : long {
  PSGroupCell = 0,
  PSLinkCell = 1,
  PSLinkListCell = 2,
  PSListItemCell = 3,
  PSTitleValueCell = 4,
  PSSliderCell = 5,
  PSSwitchCell = 6,
  PSStaticTextCell = 7,
  PSEditTextCell = 8,
  PSSegmentCell = 9,
  PSGiantIconCell = 10,
  PSGiantCell = 11,
  PSSecureEditTextCell = 12,
  PSButtonCell = 13,
  PSEditTextViewCell = 14,
};

struct PSSpecifier : NSObject {
  Strong<NSDictionary> properties;  // mutable
  id target = nullptr;              // not retained
  SEL setter = nullptr;
  SEL getter = nullptr;
  long cellType = PSGroupCell;
};

namespace preferences {

Class specifierClass();

// A specifier for a row of a specifier plist, owned by the caller. The cell
// type comes from the "cell" property; a name it does not know reads as
// PSStaticTextCell, a row that shows its label and edits nothing.
Strong<PSSpecifier> newSpecifier(NSDictionary* properties, id target);

// "PSSwitchCell" -> PSSwitchCell; -1 for a name that is not a cell type.
long cellTypeNamed(const std::string& name);

// The text of a string property, "" when missing or not a string.
std::string stringProperty(PSSpecifier* specifier, const char* key);

}  // namespace preferences

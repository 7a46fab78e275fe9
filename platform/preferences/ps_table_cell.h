// The cells a preference list shows for its rows, each a UITableViewCell
// made for one specifier and filled with the row's current value (what the
// specifier's getter answers):
//
//   PSTableCell          a row that shows its label (groups' rows, links,
//                        static text); -specifier, -value, -setValue:
//   PSSwitchTableCell    a switch as the accessory view (-control); the
//                        owner flipping it sends the specifier's setter the
//                        platform's true or false constant
//   PSEditableTableCell  a text field (-text); the owner ending an edit
//                        sends the setter the text as a string, as a text
//                        field stores it
//
// The setter is sent to the specifier's target with the value and the
// specifier: -setPreferenceValue:specifier: of the list controller.
//
// Ownership: a cell keeps its specifier and its controls. It is the target of
// its own switch, which does not retain it.
//
// Thread safety: main thread only.
#pragma once

#include <string>

#include "platform/foundation/nsstring.h"
#include "platform/preferences/ps_specifier.h"
#include "platform/uikit/uicontrol.h"
#include "platform/uikit/uitableview.h"

struct PSTableCell : UITableViewCell {
  Strong<PSSpecifier> specifier;
  Strong<objc_object> value;
};

struct PSSwitchTableCell : PSTableCell {
  Strong<UISwitch> control;
};

struct PSEditableTableCell : PSTableCell {
  Strong<NSString> text;
};

namespace preferences {

Class tableCellClass();
Class switchTableCellClass();
Class editableTableCellClass();

// A new cell of the class that shows `specifier`'s cell type, holding
// `value`; owned by the caller.
Strong<PSTableCell> newCell(PSSpecifier* specifier, id value);

// The owner types `text` into an editable cell and ends editing: the text is
// stored in the cell and sent to the specifier's setter.
void userEnterText(PSEditableTableCell* cell, const std::string& text);

// What the row shows as its value: "on"/"off" for a switch, the text of a
// text field, "" for a row without a value.
std::string cellValueText(id cell);

// The text of a preference value as a text field would show it: a string as
// it is, a number as its description, "" for anything else.
std::string valueText(id value);

}  // namespace preferences

#include "platform/preferences/ps_table_cell.h"

#include "platform/foundation/nsnumber.h"

namespace preferences {
namespace {

PSTableCell* as(id self) { return static_cast<PSTableCell*>(self); }

BOOL boolOf(id value) {
  return respondsTo(value, "boolValue"_sel) && msg<BOOL>(value, "boolValue"_sel);
}

// Sends the row's setter with `value`, as the row's control reports a change.
void store(PSTableCell* cell, id value) {
  PSSpecifier* s = cell->specifier;
  if (s == nullptr || s->setter == nullptr || !respondsTo(s->target, s->setter)) return;
  msg<void>(s->target, s->setter, value, static_cast<id>(s));
}

void showLabel(PSTableCell* cell) {
  id label = msg<id>(cell, "textLabel"_sel);
  msg<void>(label, "setText:"_sel, msg<id>(cell->specifier, "name"_sel));
}

Class defineTableCell() {
  Class cls = objc::defineClass<PSTableCell>("PSTableCell", uikit::tableViewCellClass());
  addMethod(
      cls, "specifier"_sel, +[](id self, SEL) -> id { return as(self)->specifier.get(); });
  addMethod(
      cls, "value"_sel, +[](id self, SEL) -> id { return as(self)->value.get(); });
  addMethod(
      cls, "setValue:"_sel, +[](id self, SEL, id value) { as(self)->value = value; });
  return cls;
}

Class defineSwitchTableCell() {
  Class cls = objc::defineClass<PSSwitchTableCell>("PSSwitchTableCell", tableCellClass());
  addMethod(
      cls, "initWithStyle:reuseIdentifier:"_sel,
      +[](id self, SEL, long style, id identifier) -> id {
        self = msgSuper<id>(tableCellClass(), self, "initWithStyle:reuseIdentifier:"_sel, style,
                            identifier);
        if (self == nullptr) return nullptr;
        auto* cell = static_cast<PSSwitchTableCell*>(self);
        cell->control = allocInit<UISwitch>(uikit::switchClass());
        msg<void>(cell->control, "addTarget:action:forControlEvents:"_sel, self,
                  "controlChanged:"_sel, static_cast<unsigned long>(UIControlEventValueChanged));
        msg<void>(self, "setAccessoryView:"_sel, static_cast<id>(cell->control.get()));
        return self;
      });
  addMethod(
      cls, "control"_sel,
      +[](id self, SEL) -> id { return static_cast<PSSwitchTableCell*>(self)->control.get(); });
  addMethod(
      cls, "setValue:"_sel, +[](id self, SEL, id value) {
        as(self)->value = value;
        msg<void>(static_cast<PSSwitchTableCell*>(self)->control, "setOn:animated:"_sel,
                  boolOf(value), NO);
      });
  addMethod(
      cls, "controlChanged:"_sel, +[](id self, SEL, id control) {
        id value = foundation::boolNumber(msg<BOOL>(control, "isOn"_sel));
        as(self)->value = value;
        store(as(self), value);
      });
  return cls;
}

Class defineEditableTableCell() {
  Class cls = objc::defineClass<PSEditableTableCell>("PSEditableTableCell", tableCellClass());
  addMethod(
      cls, "text"_sel,
      +[](id self, SEL) -> id { return static_cast<PSEditableTableCell*>(self)->text.get(); });
  addMethod(
      cls, "setValue:"_sel, +[](id self, SEL, id value) {
        as(self)->value = value;
        auto* cell = static_cast<PSEditableTableCell*>(self);
        cell->text = foundation::newString(valueText(value));
        msg<void>(msg<id>(self, "detailTextLabel"_sel), "setText:"_sel,
                  static_cast<id>(cell->text.get()));
      });
  return cls;
}

}  // namespace

Class tableCellClass() {
  static Class cls = defineTableCell();
  return cls;
}
Class switchTableCellClass() {
  static Class cls = defineSwitchTableCell();
  return cls;
}
Class editableTableCellClass() {
  static Class cls = defineEditableTableCell();
  return cls;
}

Strong<PSTableCell> newCell(PSSpecifier* specifier, id value) {
  Class cls = tableCellClass();
  if (specifier->cellType == PSSwitchCell) cls = switchTableCellClass();
  if (specifier->cellType == PSEditTextCell || specifier->cellType == PSSecureEditTextCell) {
    cls = editableTableCellClass();
  }
  id made =
      msg<id>(msg<id>(cls, "alloc"_sel), "initWithStyle:reuseIdentifier:"_sel,
              static_cast<long>(UITableViewCellStyleValue1), msg<id>(specifier, "identifier"_sel));
  auto cell = adopt(as(made));
  cell->specifier = specifier;
  showLabel(cell);
  msg<void>(cell, "setValue:"_sel, value);
  return cell;
}

void userEnterText(PSEditableTableCell* cell, const std::string& text) {
  Strong<NSString> typed = foundation::newString(text);
  msg<void>(cell, "setValue:"_sel, static_cast<id>(typed.get()));
  store(cell, typed);
}

std::string cellValueText(id cell) {
  if (cell == nullptr) return "";
  if (msg<BOOL>(cell, "isKindOfClass:"_sel, switchTableCellClass())) {
    return msg<BOOL>(static_cast<PSSwitchTableCell*>(cell)->control, "isOn"_sel) ? "on" : "off";
  }
  if (msg<BOOL>(cell, "isKindOfClass:"_sel, editableTableCellClass())) {
    return foundation::stdString(static_cast<PSEditableTableCell*>(cell)->text);
  }
  return "";
}

std::string valueText(id value) {
  if (foundation::isString(value)) return foundation::stdString(value);
  if (foundation::isNumber(value)) return foundation::stdString(msg<id>(value, "description"_sel));
  return "";
}

}  // namespace preferences

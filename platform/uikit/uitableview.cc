#include "platform/uikit/uitableview.h"

#include <algorithm>

namespace uikit {
namespace {

UITableView* table(id self) { return static_cast<UITableView*>(self); }
UITableViewCell* cell(id self) { return static_cast<UITableViewCell*>(self); }

Class defineTableView() {
  Class cls = objc::defineClass<UITableView>("UITableView", viewClass());
  addMethod(
      cls, "initWithFrame:style:"_sel, +[](id self, SEL, CGRect frame, long style) -> id {
        self = msg<id>(self, "initWithFrame:"_sel, frame);
        if (self != nullptr) table(self)->style = style;
        return self;
      });
  addMethod(
      cls, "style"_sel, +[](id self, SEL) -> long { return table(self)->style; });
  addMethod(
      cls, "tableHeaderView"_sel,
      +[](id self, SEL) -> id { return table(self)->tableHeaderView.get(); });
  addMethod(
      cls, "setTableHeaderView:"_sel, +[](id self, SEL, id header) {
        UITableView* t = table(self);
        if (t->tableHeaderView.get() == header) return;
        if (t->tableHeaderView && t->tableHeaderView->superview == t) {
          removeFromSuperview(t->tableHeaderView);
        }
        t->tableHeaderView = static_cast<UIView*>(header);
        if (header != nullptr) {
          auto* view = static_cast<UIView*>(header);
          addSubview(t, view);
          // The header sits above the rows: first among the table's subviews.
          auto& list = t->subviews;
          std::rotate(list.begin(), list.end() - 1, list.end());
        }
      });
  addMethod(
      cls, "dataSource"_sel, +[](id self, SEL) -> id { return table(self)->dataSource; });
  addMethod(
      cls, "setDataSource:"_sel,
      +[](id self, SEL, id source) { table(self)->dataSource = source; });
  addMethod(
      cls, "delegate"_sel, +[](id self, SEL) -> id { return table(self)->delegate; });
  addMethod(
      cls, "setDelegate:"_sel,
      +[](id self, SEL, id delegate) { table(self)->delegate = delegate; });
  addMethod(
      cls, "reloadData"_sel, +[](id, SEL) {});
  addMethod(
      cls, "dequeueReusableCellWithIdentifier:"_sel, +[](id, SEL, id) -> id { return nullptr; });
  addMethod(
      cls, "description"_sel, +[](id self, SEL) -> id {
        UITableView* t = table(self);
        std::string text = "table";
        if (t->tableHeaderView) text += " header " + describe(t->tableHeaderView);
        return foundation::makeString(text);
      });
  return cls;
}

UILabel* lazyLabel(Strong<UILabel>* slot) {
  if (!*slot) *slot = static_cast<UILabel*>(newView(labelClass(), CGRectZero).get());
  return slot->get();
}

Class defineTableViewCell() {
  Class cls = objc::defineClass<UITableViewCell>("UITableViewCell", viewClass());
  addMethod(
      cls, "initWithStyle:reuseIdentifier:"_sel,
      +[](id self, SEL, long style, id identifier) -> id {
        self = msg<id>(self, "initWithFrame:"_sel, CGRect{0, 0, 320, 44});
        if (self == nullptr) return nullptr;
        cell(self)->style = style;
        cell(self)->reuseIdentifier =
            adopt(static_cast<NSString*>(msg<id>(identifier, "copy"_sel)));
        return self;
      });
  addMethod(
      cls, "reuseIdentifier"_sel,
      +[](id self, SEL) -> id { return cell(self)->reuseIdentifier.get(); });
  addMethod(
      cls, "textLabel"_sel, +[](id self, SEL) -> id { return lazyLabel(&cell(self)->textLabel); });
  addMethod(
      cls, "detailTextLabel"_sel,
      +[](id self, SEL) -> id { return lazyLabel(&cell(self)->detailTextLabel); });
  addMethod(
      cls, "accessoryView"_sel,
      +[](id self, SEL) -> id { return cell(self)->accessoryView.get(); });
  addMethod(
      cls, "setAccessoryView:"_sel,
      +[](id self, SEL, id view) { cell(self)->accessoryView = static_cast<UIView*>(view); });
  addMethod(
      cls, "description"_sel, +[](id self, SEL) -> id {
        UITableViewCell* c = cell(self);
        std::string text =
            "cell \"" + (c->textLabel ? labelText(c->textLabel) : std::string()) + "\"";
        if (c->detailTextLabel && c->detailTextLabel->attributedText) {
          text += " detail \"" + labelText(c->detailTextLabel) + "\"";
        }
        if (c->accessoryView) text += " " + describe(c->accessoryView);
        return foundation::makeString(text);
      });
  return cls;
}

}  // namespace

Class tableViewClass() {
  static Class cls = defineTableView();
  return cls;
}

Class tableViewCellClass() {
  static Class cls = defineTableViewCell();
  return cls;
}

}  // namespace uikit

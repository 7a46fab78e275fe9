#include "platform/uikit/uitableview.h"

#include <algorithm>

#include "platform/uikit/nsindexpath.h"
#include "platform/uikit/uifont.h"

namespace uikit {
namespace {

UITableView* table(id self) { return static_cast<UITableView*>(self); }
UITableViewCell* cell(id self) { return static_cast<UITableViewCell*>(self); }

// A section's header or footer text as the grouped style shows it: small,
// grey, wrapped to the table's width.
double addSectionText(UITableView* t, id text, double y, bool header) {
  if (!foundation::isString(text)) return y;
  std::string words = foundation::stdString(text);
  if (header) {
    std::transform(words.begin(), words.end(), words.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  }
  Strong<UILabel> label = newLabel(words, systemFont(13), namedColor("secondaryLabelColor"));
  label->numberOfLines = 0;
  double x = t->style == UITableViewStylePlain ? 16 : kGroupedInset + 16;
  double width = t->frame.width - 2 * x;
  CGSize size = labelTextSize(label, width);
  if (header) y += 16;
  label->frame = CGRect{x, header ? y : y + 7, width, size.height};
  addSubview(t, label);
  return label->frame.y + size.height + (header ? 7 : 0);
}

long sectionCount(UITableView* t) {
  if (t->dataSource == nullptr) return 0;
  if (!respondsTo(t->dataSource, "numberOfSectionsInTableView:"_sel)) return 1;
  return msg<long>(t->dataSource, "numberOfSectionsInTableView:"_sel, static_cast<id>(t));
}

id sectionTitle(UITableView* t, const char* selector, long section) {
  SEL sel = sel_registerName(selector);
  if (!respondsTo(t->dataSource, sel)) return nullptr;
  return msg<id>(t->dataSource, sel, static_cast<id>(t), section);
}

// Lays the table out from its data source: header view, then each section.
void layoutTable(UITableView* t) {
  // Everything but the header view is made anew.
  std::vector<Strong<UIView>> old = t->subviews;
  for (auto& view : old) {
    if (view.get() != t->tableHeaderView.get()) removeFromSuperview(view);
  }
  t->sectionFrames.clear();
  // The rows are asked for first: a data source may set the table up (its
  // header view) as its cells are made.
  long sections = sectionCount(t);
  std::vector<std::vector<Strong<UITableViewCell>>> cells(
      static_cast<size_t>(std::max(0L, sections)));
  for (long section = 0; section < sections; ++section) {
    long rows = msg<long>(t->dataSource, "tableView:numberOfRowsInSection:"_sel, static_cast<id>(t),
                          section);
    for (long row = 0; row < rows; ++row) {
      id path = msg<id>(indexPathClass(), "indexPathForRow:inSection:"_sel, row, section);
      id made =
          msg<id>(t->dataSource, "tableView:cellForRowAtIndexPath:"_sel, static_cast<id>(t), path);
      if (made == nullptr || !msg<BOOL>(made, "isKindOfClass:"_sel, tableViewCellClass())) continue;
      cells[static_cast<size_t>(section)].emplace_back(cell(made));
    }
  }
  bool grouped = t->style != UITableViewStylePlain;
  double inset = grouped ? kGroupedInset : 0;
  double y = 0;
  if (t->tableHeaderView) {
    UIView* header = t->tableHeaderView;
    header->frame.x = (t->frame.width - header->frame.width) / 2;
    header->frame.y = 0;
    y = header->frame.height;
  }
  for (long section = 0; section < sections; ++section) {
    y = addSectionText(t, sectionTitle(t, "tableView:titleForHeaderInSection:", section), y, true);
    if (grouped && y == 0) y = 16;
    double top = y;
    const auto& rows = cells[static_cast<size_t>(section)];
    for (size_t row = 0; row < rows.size(); ++row) {
      UITableViewCell* c = rows[row];
      c->frame = CGRect{inset, y, t->frame.width - 2 * inset, kRowHeight};
      addSubview(t, c);
      y += kRowHeight;
      if (row + 1 < rows.size()) {
        // The separator starts where the row's text does.
        double indent = c->imageView ? 60 : 16;
        Strong<UIView> line = newView(
            viewClass(), CGRect{inset + indent, y - 0.5, t->frame.width - 2 * inset - indent, 0.5});
        line->backgroundColor = namedColor("separatorColor");
        line->userInteractionEnabled = false;
        addSubview(t, line);
      }
    }
    t->sectionFrames.push_back(CGRect{inset, top, t->frame.width - 2 * inset, y - top});
    y = addSectionText(t, sectionTitle(t, "tableView:titleForFooterInSection:", section), y, false);
    if (grouped) y += 10;
  }
}

Class defineTableView() {
  Class cls = objc::defineClass<UITableView>("UITableView", viewClass());
  addMethod(
      cls, "initWithFrame:style:"_sel, +[](id self, SEL, CGRect frame, long style) -> id {
        self = msg<id>(self, "initWithFrame:"_sel, frame);
        if (self == nullptr) return nullptr;
        table(self)->style = style;
        // Grouped rows stand on a grey ground.
        table(self)->backgroundColor =
            namedColor(style == UITableViewStylePlain ? "systemBackgroundColor"
                                                      : "systemGroupedBackgroundColor");
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
      cls, "layoutSubviews"_sel, +[](id self, SEL) { layoutTable(table(self)); });
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

// Puts a view into the cell's row when it is not there yet.
void placeInRow(UITableViewCell* c, UIView* view) {
  if (view != nullptr && view->superview != c) addSubview(c, view);
}

// Image, text label, then the detail text and the accessory at the trailing
// edge, each centred on the row.
void layoutCell(UITableViewCell* c) {
  const CGRect& f = c->frame;
  double leading = 16;
  double trailing = f.width - 16;
  if (c->imageView && c->imageView->image) {
    placeInRow(c, c->imageView);
    c->imageView->frame = CGRect{16, (f.height - 28) / 2, 28, 28};
    leading = 60;
  }
  if (c->accessoryView) {
    placeInRow(c, c->accessoryView);
    CGRect& a = c->accessoryView->frame;
    a.x = trailing - a.width;
    a.y = (f.height - a.height) / 2;
    trailing = a.x - 8;
  } else if (c->accessoryType == UITableViewCellAccessoryDisclosureIndicator) {
    trailing -= 20;  // the chevron, drawn by the cell itself
  }
  if (c->detailTextLabel && c->detailTextLabel->attributedText) {
    placeInRow(c, c->detailTextLabel);
    CGSize size = labelTextSize(c->detailTextLabel, trailing - leading);
    c->detailTextLabel->frame =
        CGRect{trailing - size.width, (f.height - size.height) / 2, size.width, size.height};
    trailing = c->detailTextLabel->frame.x - 8;
  }
  if (c->textLabel && c->textLabel->attributedText) {
    placeInRow(c, c->textLabel);
    CGSize size = labelTextSize(c->textLabel, trailing - leading);
    c->textLabel->frame = CGRect{leading, (f.height - size.height) / 2,
                                 std::min(size.width, trailing - leading), size.height};
  }
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
      cls, "detailTextLabel"_sel, +[](id self, SEL) -> id {
        bool made = cell(self)->detailTextLabel;
        UILabel* label = lazyLabel(&cell(self)->detailTextLabel);
        if (!made) label->textColor = namedColor("secondaryLabelColor");
        return label;
      });
  addMethod(
      cls, "imageView"_sel, +[](id self, SEL) -> id {
        if (!cell(self)->imageView) {
          cell(self)->imageView =
              static_cast<UIImageView*>(newView(imageViewClass(), CGRectZero).get());
        }
        return cell(self)->imageView.get();
      });
  addMethod(
      cls, "accessoryType"_sel, +[](id self, SEL) -> long { return cell(self)->accessoryType; });
  addMethod(
      cls, "setAccessoryType:"_sel,
      +[](id self, SEL, long type) { cell(self)->accessoryType = type; });
  addMethod(
      cls, "layoutSubviews"_sel, +[](id self, SEL) { layoutCell(cell(self)); });
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

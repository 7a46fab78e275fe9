#include "platform/photos/list_views.h"

namespace photos {
namespace {

PXNavigationListBadgeView* badgeView(id self) {
  return static_cast<PXNavigationListBadgeView*>(self);
}
PXNavigationListCell* cell(id self) { return static_cast<PXNavigationListCell*>(self); }

Class defineBadgeView() {
  Class cls =
      objc::defineClass<PXNavigationListBadgeView>("PXNavigationListBadgeView", uikit::viewClass());
  addMethod(
      cls, "initWithFrame:"_sel, +[](id self, SEL, CGRect frame) -> id {
        self = msgSuper<id>(uikit::viewClass(), self, "initWithFrame:"_sel, frame);
        if (self == nullptr) return nullptr;
        Strong<UIView> label = uikit::newView(uikit::labelClass(), CGRectZero);
        badgeView(self)->badgeTextLabel = static_cast<UILabel*>(label.get());
        badgeView(self)->badgeTextLabel->textColor = uikit::namedColor("secondaryLabelColor");
        uikit::addSubview(badgeView(self), label);
        return self;
      });
  addMethod(
      cls, "badgeTextLabel"_sel,
      +[](id self, SEL) -> id { return badgeView(self)->badgeTextLabel.get(); });
  addMethod(
      cls, "description"_sel, +[](id self, SEL) -> id {
        return foundation::makeString("badge \"" +
                                      uikit::labelText(badgeView(self)->badgeTextLabel) + "\"");
      });
  return cls;
}

Class defineListCell() {
  Class superclass = uikit::tableViewCellClass();
  Class cls = objc::defineClass<PXNavigationListCell>("PXNavigationListCell", superclass);
  addMethod(
      cls, "initWithFrame:"_sel, +[](id self, SEL, CGRect frame) -> id {
        self = msgSuper<id>(uikit::tableViewCellClass(), self, "initWithFrame:"_sel, frame);
        if (self == nullptr) return nullptr;
        Strong<UIView> title = uikit::newView(uikit::labelClass(), CGRectZero);
        Strong<UIView> badge = uikit::newView(badgeViewClass(), CGRectZero);
        cell(self)->titleLabel = static_cast<UILabel*>(title.get());
        cell(self)->badge = static_cast<PXNavigationListBadgeView*>(badge.get());
        uikit::addSubview(cell(self), title);
        uikit::addSubview(cell(self), badge);
        return self;
      });
  addMethod(
      cls, "badge"_sel, +[](id self, SEL) -> id { return cell(self)->badge.get(); });
  // Icon, title, then the badge before the disclosure chevron; the badge is
  // as wide as its text.
  addMethod(
      cls, "layoutSubviews"_sel, +[](id self, SEL) {
        PXNavigationListCell* c = cell(self);
        const CGRect& f = c->frame;
        double leading = 16;
        if (c->imageView && c->imageView->image) {
          if (c->imageView->superview != c) uikit::addSubview(c, c->imageView);
          c->imageView->frame = CGRect{16, (f.height - 28) / 2, 28, 28};
          leading = 60;
        }
        double trailing = f.width - 16 - (c->accessoryType ? 20 : 0);
        if (c->badge) {
          UILabel* label = c->badge->badgeTextLabel;
          CGSize size = label ? uikit::labelTextSize(label, trailing - leading) : CGSizeZero;
          c->badge->frame =
              CGRect{trailing - size.width, (f.height - size.height) / 2, size.width, size.height};
          if (label) label->frame = CGRect{0, 0, size.width, size.height};
          trailing = c->badge->frame.x - 8;
        }
        if (c->titleLabel) {
          CGSize size = uikit::labelTextSize(c->titleLabel, trailing - leading);
          c->titleLabel->frame =
              CGRect{leading, (f.height - size.height) / 2, trailing - leading, size.height};
        }
      });
  addMethod(
      cls, "titleLabel"_sel, +[](id self, SEL) -> id { return cell(self)->titleLabel.get(); });
  addMethod(
      cls, "description"_sel, +[](id self, SEL) -> id {
        return foundation::makeString("cell \"" + cellTitle(cell(self)) + "\" badge " +
                                      cellBadgeText(cell(self)));
      });
  return cls;
}

}  // namespace

Class badgeViewClass() {
  static Class cls = defineBadgeView();
  return cls;
}

Class listCellClass() {
  static Class cls = defineListCell();
  return cls;
}

Strong<PXNavigationListCell> newListCell() {
  id cell = msg<id>(listCellClass(), "alloc"_sel);
  return adopt(static_cast<PXNavigationListCell*>(
      msg<id>(cell, "initWithStyle:reuseIdentifier:"_sel, long{UITableViewCellStyleDefault},
              "AlbumCell"_ns)));
}

std::string cellTitle(PXNavigationListCell* c) {
  return c->titleLabel ? uikit::labelText(c->titleLabel) : std::string();
}

std::string cellBadgeText(PXNavigationListCell* c) {
  if (!c->badge || !c->badge->badgeTextLabel) return "";
  return uikit::labelText(c->badge->badgeTextLabel);
}

}  // namespace photos

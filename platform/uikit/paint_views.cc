// -drawRect: of UIKit's views: each paints what it holds, in its own
// coordinates, with the painter its superview handed down.
#include <cmath>

#include "platform/uikit/painter.h"
#include "platform/uikit/uicontrol.h"
#include "platform/uikit/uiimageview.h"
#include "platform/uikit/uitableview.h"
#include "platform/uikit/uiwindow.h"

namespace uikit::paint {
namespace {

UIView* view(id self) { return static_cast<UIView*>(self); }

void fillBackground(cairo_t* cr, UIView* v) {
  if (!v->backgroundColor || v->backgroundColor->alpha <= 0) return;
  double radius = v->layer ? v->layer->cornerRadius : 0;
  roundedRect(cr, CGRect{0, 0, v->frame.width, v->frame.height}, radius);
  setColor(cr, v->backgroundColor);
  cairo_fill(cr);
}

// The content box of an image of `size` shown in `bounds` by `mode`.
CGRect contentBox(long mode, const CGSize& size, const CGRect& bounds) {
  if (size.width <= 0 || size.height <= 0) return bounds;
  double sx = bounds.width / size.width, sy = bounds.height / size.height;
  double scale;
  switch (mode) {
    case UIViewContentModeScaleAspectFit:
      scale = std::fmin(sx, sy);
      break;
    case UIViewContentModeScaleAspectFill:
      scale = std::fmax(sx, sy);
      break;
    case UIViewContentModeCenter:
      scale = 1;
      break;
    default:
      return bounds;
  }
  double w = size.width * scale, h = size.height * scale;
  return CGRect{(bounds.width - w) / 2, (bounds.height - h) / 2, w, h};
}

id tintOf(UIView* v) { return msg<id>(v, "tintColor"_sel); }

void drawView(id self, SEL, CGRect) { fillBackground(current(), view(self)); }

void drawLabelView(id self, SEL, CGRect bounds) {
  fillBackground(current(), view(self));
  drawLabel(current(), static_cast<UILabel*>(self), bounds);
}

void drawImageView(id self, SEL, CGRect bounds) {
  cairo_t* cr = current();
  auto* v = static_cast<UIImageView*>(self);
  fillBackground(cr, v);
  if (!v->image) return;
  // A symbol always keeps its proportions; a picture follows the content mode.
  long mode = v->image->symbolName.empty() ? v->contentMode : UIViewContentModeScaleAspectFit;
  drawImage(cr, v->image, contentBox(mode, v->image->size, bounds), tintOf(v));
}

void drawSwitch(id self, SEL, CGRect bounds) {
  cairo_t* cr = current();
  auto* s = static_cast<UISwitch*>(self);
  double h = bounds.height, w = bounds.width;
  roundedRect(cr, bounds, h / 2);
  if (s->on) {
    setColor(cr, s->onTintColor ? static_cast<id>(s->onTintColor.get())
                                : static_cast<id>(namedColor("systemGreenColor")));
  } else {
    // The platform's off look: a light grey track, whatever the tint.
    cairo_set_source_rgb(cr, 233 / 255.0, 233 / 255.0, 235 / 255.0);
  }
  cairo_fill(cr);
  double r = h / 2 - 2;
  double cx = s->on ? w - 2 - r : 2 + r;
  // The thumb with a soft edge under it.
  for (int i = 3; i >= 1; --i) {
    cairo_arc(cr, cx, h / 2 + 1, r + i * 0.5, 0, 2 * kPi);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.04);
    cairo_fill(cr);
  }
  cairo_arc(cr, cx, h / 2, r, 0, 2 * kPi);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_fill(cr);
}

// How round an inset-grouped table's sections are at their corners.
constexpr double kSectionCornerRadius = 10;

void drawTable(id self, SEL, CGRect) {
  cairo_t* cr = current();
  auto* t = static_cast<UITableView*>(self);
  fillBackground(cr, t);
  if (t->style == UITableViewStylePlain) return;
  cairo_set_source_rgb(cr, 1, 1, 1);
  for (const CGRect& section : t->sectionFrames) {
    roundedRect(cr, section, t->style == UITableViewStyleInsetGrouped ? kSectionCornerRadius : 0);
    cairo_fill(cr);
  }
}

// Clips to the rounded section of an inset-grouped table that `c` lies in,
// so that a coloured cell (a selected row) takes the section's corners.
void clipToSection(cairo_t* cr, UITableViewCell* c) {
  UIView* parent = c->superview;
  if (parent == nullptr || !msg<BOOL>(parent, "isKindOfClass:"_sel, tableViewClass())) return;
  auto* t = static_cast<UITableView*>(parent);
  if (t->style != UITableViewStyleInsetGrouped) return;
  const CGRect& f = c->frame;
  for (const CGRect& section : t->sectionFrames) {
    if (f.y >= section.y && f.y + f.height <= section.y + section.height) {
      roundedRect(cr, CGRect{section.x - f.x, section.y - f.y, section.width, section.height},
                  kSectionCornerRadius);
      cairo_clip(cr);
      return;
    }
  }
}

void drawCell(id self, SEL, CGRect bounds) {
  cairo_t* cr = current();
  auto* c = static_cast<UITableViewCell*>(self);
  cairo_save(cr);
  clipToSection(cr, c);
  fillBackground(cr, c);
  cairo_restore(cr);
  if (c->accessoryType == UITableViewCellAccessoryDisclosureIndicator && !c->accessoryView) {
    setColor(cr, namedColor("tertiaryLabelColor"), 1 / 0.3 * 0.6);
    drawSymbol(cr, "chevron.right", CGRect{bounds.width - 16 - 9, bounds.height / 2 - 7, 9, 14});
  }
}

void drawStatusBar(id self, SEL, CGRect bounds) {
  cairo_t* cr = current();
  fillBackground(cr, view(self));
  cairo_set_source_rgb(cr, 0, 0, 0);
  double mid = bounds.height / 2;
  if (bounds.height < 30) {
    // A tablet's slim bar: time and date on the left, the battery on the right.
    drawText(cr, "9:41  Mon Dec 7", 13, true, CGPoint{20, mid - 8});
  } else {
    drawText(cr, "9:41", 17, true, CGPoint{52, mid - 8});
  }
  double right = bounds.width - (bounds.height < 30 ? 20 : 30);
  // Battery: outline, charge, and the cap.
  CGRect battery{right - 27, mid - 6.5, 25, 13};
  roundedRect(cr, battery, 4);
  cairo_set_line_width(cr, 1);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.4);
  cairo_stroke(cr);
  cairo_set_source_rgb(cr, 0, 0, 0);
  roundedRect(cr, CGRect{battery.x + 2, battery.y + 2, 18, 9}, 2.5);
  cairo_fill(cr);
  roundedRect(cr, CGRect{battery.x + 26, mid - 2, 2, 4}, 1);
  cairo_fill(cr);
  // Wi-Fi: three arcs over a dot.
  double wx = battery.x - 14, wy = mid + 5;
  for (int i = 0; i < 3; ++i) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, wx, wy, 3.5 + i * 3.5, -kPi * 0.75, -kPi * 0.25);
  }
  cairo_set_line_width(cr, 2);
  cairo_stroke(cr);
  // Signal: four bars.
  if (bounds.height >= 30) {
    for (int i = 0; i < 4; ++i) {
      double bh = 4 + i * 2.5;
      roundedRect(cr, CGRect{wx - 32 + i * 4.5, mid + 5 - bh, 3, bh}, 1);
      cairo_fill(cr);
    }
  }
}

}  // namespace

void installPainting() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  addMethod(viewClass(), "drawRect:"_sel, drawView);
  addMethod(labelClass(), "drawRect:"_sel, drawLabelView);
  addMethod(imageViewClass(), "drawRect:"_sel, drawImageView);
  addMethod(switchClass(), "drawRect:"_sel, drawSwitch);
  addMethod(tableViewClass(), "drawRect:"_sel, drawTable);
  addMethod(tableViewCellClass(), "drawRect:"_sel, drawCell);
  addMethod(statusBarClass(), "drawRect:"_sel, drawStatusBar);
}

}  // namespace uikit::paint

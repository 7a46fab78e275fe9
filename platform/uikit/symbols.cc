// The device's system symbols, drawn as vector shapes of our own in a unit
// square and filled (or stroked) with the painter's current source. A symbol
// keeps its proportions in any box: it is centred in the largest square the
// box holds.
#include <cmath>
#include <cstring>

#include "platform/uikit/painter.h"

namespace uikit::paint {
namespace {

void stroke(cairo_t* cr, double width) {
  cairo_set_line_width(cr, width);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_stroke(cr);
}

void lockFill(cairo_t* cr) {
  roundedRect(cr, CGRect{0.14, 0.44, 0.72, 0.52}, 0.1);
  cairo_fill(cr);
  // The shackle: an arch standing on the body.
  cairo_new_sub_path(cr);
  cairo_arc(cr, 0.5, 0.3, 0.21, kPi, 2 * kPi);
  cairo_line_to(cr, 0.71, 0.46);
  cairo_move_to(cr, 0.29, 0.46);
  cairo_line_to(cr, 0.29, 0.3);
  stroke(cr, 0.11);
}

void chevron(cairo_t* cr, bool right) {
  double tip = right ? 0.68 : 0.32, back = right ? 0.36 : 0.64;
  cairo_move_to(cr, back, 0.12);
  cairo_line_to(cr, tip, 0.5);
  cairo_line_to(cr, back, 0.88);
  stroke(cr, 0.12);
}

void faceId(cairo_t* cr) {
  const double e = 0.08, c = 0.28;  // edge inset, corner arm length
  for (int i = 0; i < 4; ++i) {
    double sx = i % 2 == 0 ? 1 : -1, sy = i < 2 ? 1 : -1;
    double x = sx > 0 ? e : 1 - e, y = sy > 0 ? e : 1 - e;
    cairo_move_to(cr, x, y + sy * c);
    cairo_curve_to(cr, x, y + sy * 0.05, x + sx * 0.05, y, x + sx * c, y);
  }
  stroke(cr, 0.055);
  cairo_move_to(cr, 0.35, 0.36);
  cairo_line_to(cr, 0.35, 0.44);
  cairo_move_to(cr, 0.65, 0.36);
  cairo_line_to(cr, 0.65, 0.44);
  cairo_move_to(cr, 0.51, 0.37);
  cairo_line_to(cr, 0.51, 0.56);
  cairo_line_to(cr, 0.46, 0.56);
  cairo_move_to(cr, 0.36, 0.66);
  cairo_curve_to(cr, 0.44, 0.74, 0.56, 0.74, 0.64, 0.66);
  stroke(cr, 0.055);
}

void heart(cairo_t* cr) {
  cairo_move_to(cr, 0.5, 0.88);
  cairo_curve_to(cr, 0.1, 0.6, 0.02, 0.36, 0.14, 0.22);
  cairo_curve_to(cr, 0.26, 0.08, 0.44, 0.12, 0.5, 0.28);
  cairo_curve_to(cr, 0.56, 0.12, 0.74, 0.08, 0.86, 0.22);
  cairo_curve_to(cr, 0.98, 0.36, 0.9, 0.6, 0.5, 0.88);
  cairo_close_path(cr);
  stroke(cr, 0.08);
}

void photoOnRectangle(cairo_t* cr) {
  // The picture behind shows only its top and right edges.
  cairo_move_to(cr, 0.22, 0.24);
  cairo_curve_to(cr, 0.22, 0.18, 0.25, 0.14, 0.3, 0.14);
  cairo_line_to(cr, 0.84, 0.14);
  cairo_curve_to(cr, 0.89, 0.14, 0.92, 0.17, 0.92, 0.22);
  cairo_line_to(cr, 0.92, 0.62);
  cairo_curve_to(cr, 0.92, 0.66, 0.9, 0.68, 0.86, 0.68);
  stroke(cr, 0.07);
  roundedRect(cr, CGRect{0.08, 0.3, 0.7, 0.56}, 0.08);
  stroke(cr, 0.07);
  cairo_move_to(cr, 0.14, 0.8);
  cairo_line_to(cr, 0.36, 0.56);
  cairo_line_to(cr, 0.5, 0.7);
  cairo_line_to(cr, 0.58, 0.62);
  cairo_line_to(cr, 0.72, 0.8);
  stroke(cr, 0.06);
  cairo_arc(cr, 0.6, 0.44, 0.05, 0, 2 * kPi);
  cairo_fill(cr);
}

void rectangleStack(cairo_t* cr) {
  roundedRect(cr, CGRect{0.08, 0.38, 0.84, 0.5}, 0.08);
  stroke(cr, 0.07);
  cairo_move_to(cr, 0.16, 0.26);
  cairo_line_to(cr, 0.84, 0.26);
  cairo_move_to(cr, 0.26, 0.14);
  cairo_line_to(cr, 0.74, 0.14);
  stroke(cr, 0.07);
}

void eyeSlash(cairo_t* cr) {
  cairo_move_to(cr, 0.06, 0.5);
  cairo_curve_to(cr, 0.3, 0.14, 0.7, 0.14, 0.94, 0.5);
  cairo_curve_to(cr, 0.7, 0.86, 0.3, 0.86, 0.06, 0.5);
  cairo_close_path(cr);
  stroke(cr, 0.07);
  cairo_arc(cr, 0.5, 0.5, 0.14, 0, 2 * kPi);
  cairo_fill(cr);
  cairo_move_to(cr, 0.16, 0.12);
  cairo_line_to(cr, 0.84, 0.88);
  stroke(cr, 0.08);
}

void trash(cairo_t* cr) {
  cairo_move_to(cr, 0.12, 0.22);
  cairo_line_to(cr, 0.88, 0.22);
  cairo_move_to(cr, 0.38, 0.22);
  cairo_line_to(cr, 0.4, 0.1);
  cairo_line_to(cr, 0.6, 0.1);
  cairo_line_to(cr, 0.62, 0.22);
  cairo_move_to(cr, 0.2, 0.22);
  cairo_line_to(cr, 0.26, 0.9);
  cairo_line_to(cr, 0.74, 0.9);
  cairo_line_to(cr, 0.8, 0.22);
  for (double x : {0.4, 0.5, 0.6}) {
    cairo_move_to(cr, x, 0.36);
    cairo_line_to(cr, x, 0.76);
  }
  stroke(cr, 0.07);
}

using Drawing = void (*)(cairo_t*);

struct Symbol {
  const char* name;
  Drawing draw;
};

const Symbol kSymbols[] = {
    {"lock.fill", lockFill},
    {"chevron.right", [](cairo_t* cr) { chevron(cr, true); }},
    {"chevron.backward", [](cairo_t* cr) { chevron(cr, false); }},
    {"faceid", faceId},
    {"heart", heart},
    {"photo.on.rectangle", photoOnRectangle},
    {"rectangle.stack", rectangleStack},
    {"eye.slash", eyeSlash},
    {"trash", trash},
};

}  // namespace

bool drawSymbol(cairo_t* cr, const std::string& name, const CGRect& box) {
  double side = std::fmin(box.width, box.height);
  if (side <= 0) return true;
  cairo_save(cr);
  cairo_translate(cr, box.x + (box.width - side) / 2, box.y + (box.height - side) / 2);
  cairo_scale(cr, side, side);
  cairo_new_path(cr);
  bool known = false;
  for (const Symbol& s : kSymbols) {
    if (name == s.name) {
      s.draw(cr);
      known = true;
      break;
    }
  }
  if (!known) {
    roundedRect(cr, CGRect{0.1, 0.1, 0.8, 0.8}, 0.1);
    cairo_move_to(cr, 0.1, 0.1);
    cairo_line_to(cr, 0.9, 0.9);
    stroke(cr, 0.06);
  }
  cairo_restore(cr);
  return known;
}

}  // namespace uikit::paint

// The painter that views paint themselves with: a Cairo context whose origin
// is the top-left corner of the view being painted and whose unit is a
// point. Only the drawing code of the UIKit stand-in includes this header; it
// brings in Cairo and Pango.
//
// Thread safety: main thread only.
#pragma once

#include <cairo.h>

#include <numbers>
#include <string>

#include "platform/uikit/geometry.h"
#include "platform/uikit/uiimage.h"
#include "platform/uikit/uilabel.h"

namespace uikit::paint {

inline constexpr double kPi = std::numbers::pi;

// The painter of the view whose -drawRect: runs; nullptr outside drawing.
cairo_t* current();

// Makes `color` (a UIColor or CGColor) the source, its alpha multiplied by `alpha`.
void setColor(cairo_t* cr, id color, double alpha = 1);
// Adds a rectangle with corners rounded by `radius` to the path.
void roundedRect(cairo_t* cr, const CGRect& rect, double radius);

// Draws the system symbol `name` into `box`, filled with the current source;
// false (and a crossed-out square) for a symbol the device does not have.
bool drawSymbol(cairo_t* cr, const std::string& name, const CGRect& box);
// Draws `image` into `box`: a symbol filled with its tint (or `tint` when the
// image has none), a file image scaled to the box.
void drawImage(cairo_t* cr, UIImage* image, const CGRect& box, id tint);

// Draws a label's text (and attachments) into `bounds`, aligned as the label
// says and centred vertically, as UILabel does.
void drawLabel(cairo_t* cr, UILabel* label, const CGRect& bounds);
// Draws one line of plain text with its top-left corner at `at`.
void drawText(cairo_t* cr, const std::string& text, double size, bool bold, const CGPoint& at);

// Registers -drawRect: of UIKit's view classes (paint_views.cc).
void installPainting();

}  // namespace uikit::paint

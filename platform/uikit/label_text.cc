// Setting a label's text with Pango: the system font is Inter, regular,
// semibold or bold; an attachment takes the place of one character (U+FFFC) with a box
// the size of its image scaled to the font, and is drawn after the text.
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "platform/uikit/nsattributedstring.h"
#include "platform/uikit/painter.h"
#include "platform/uikit/uifont.h"

namespace uikit {
namespace {

constexpr char kObjectReplacement[] = "\xEF\xBF\xBC";  // U+FFFC in UTF-8

struct Attachment {
  int index;  // byte index of its U+FFFC
  UIImage* image;
  double width, height;
};

struct GObjectUnref {
  void operator()(void* p) const { g_object_unref(p); }
};
using LayoutPtr = std::unique_ptr<PangoLayout, GObjectUnref>;

cairo_font_options_t* fontOptions() {
  static cairo_font_options_t* options = [] {
    cairo_font_options_t* o = cairo_font_options_create();
    // Unhinted metrics, so that text measures the same at every scale.
    cairo_font_options_set_hint_metrics(o, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(o, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_antialias(o, CAIRO_ANTIALIAS_GRAY);
    return o;
  }();
  return options;
}

// The context layouts are set in: one for measuring (no transformation, one
// unit a point) and one for drawing, brought to the painter's transformation
// each time.
PangoContext* newContext() {
  PangoContext* c = pango_font_map_create_context(pango_cairo_font_map_get_default());
  pango_cairo_context_set_font_options(c, fontOptions());
  return c;
}

PangoContext* measuringContext() {
  static PangoContext* context = newContext();
  return context;
}

PangoContext* drawingContext(cairo_t* cr) {
  static PangoContext* context = newContext();
  pango_cairo_update_context(cr, context);
  return context;
}

// Inter at `size` points in the weight the screen draws for `weight` (uifont.h).
PangoFontDescription* fontDescription(double size, double weight) {
  PangoFontDescription* d = pango_font_description_new();
  pango_font_description_set_family_static(d, "Inter");
  pango_font_description_set_weight(d, weight >= UIFontWeightBold       ? PANGO_WEIGHT_BOLD
                                       : weight >= UIFontWeightSemibold ? PANGO_WEIGHT_SEMIBOLD
                                                                        : PANGO_WEIGHT_NORMAL);
  pango_font_description_set_absolute_size(d, size * PANGO_SCALE);
  return d;
}

// Lays out `label`'s text in `context`; `width` < 0 leaves the lines unbounded.
LayoutPtr layoutLabel(PangoContext* context, UILabel* label, double width,
                      std::vector<Attachment>* attachments) {
  LayoutPtr layout(pango_layout_new(context));
  double size = label->font ? label->font->pointSize : 17;
  double weight = label->font ? label->font->weight : UIFontWeightRegular;
  PangoFontDescription* d = fontDescription(size, weight);
  pango_layout_set_font_description(layout.get(), d);
  pango_font_description_free(d);

  std::string text;
  PangoAttrList* attributes = pango_attr_list_new();
  if (label->attributedText) {
    for (const auto& run : label->attributedText->runs) {
      if (!run.attachment) {
        text += run.text;
        continue;
      }
      UIImage* image = run.attachment->image;
      // The image stands as tall as the font's capitals and a little more.
      double height = size * 0.95;
      double aspect = image && image->size.height > 0 ? image->size.width / image->size.height : 1;
      Attachment a{static_cast<int>(text.size()), image, height * aspect, height};
      PangoRectangle box{0, static_cast<int>(-height * 0.85 * PANGO_SCALE),
                         static_cast<int>(a.width * PANGO_SCALE),
                         static_cast<int>(height * PANGO_SCALE)};
      PangoAttribute* shape = pango_attr_shape_new(&box, &box);
      shape->start_index = static_cast<guint>(text.size());
      shape->end_index = shape->start_index + 3;
      pango_attr_list_insert(attributes, shape);
      text += kObjectReplacement;
      if (attachments) attachments->push_back(a);
    }
  }
  pango_layout_set_text(layout.get(), text.c_str(), static_cast<int>(text.size()));
  pango_layout_set_attributes(layout.get(), attributes);
  pango_attr_list_unref(attributes);

  if (width >= 0) {
    pango_layout_set_width(layout.get(), static_cast<int>(width * PANGO_SCALE));
    if (label->numberOfLines == 1) {
      pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_END);
    } else {
      pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
    }
  }
  switch (label->textAlignment) {
    case NSTextAlignmentCenter:
      pango_layout_set_alignment(layout.get(), PANGO_ALIGN_CENTER);
      break;
    case NSTextAlignmentRight:
      pango_layout_set_alignment(layout.get(), PANGO_ALIGN_RIGHT);
      break;
    default:
      pango_layout_set_alignment(layout.get(), PANGO_ALIGN_LEFT);
  }
  return layout;
}

}  // namespace

CGSize labelTextSize(UILabel* label, double max_width) {
  if (!label->attributedText || label->attributedText->runs.empty()) return CGSizeZero;
  double width = label->numberOfLines == 1 ? -1 : max_width;
  LayoutPtr layout = layoutLabel(measuringContext(), label, width, nullptr);
  PangoRectangle logical;
  pango_layout_get_extents(layout.get(), nullptr, &logical);
  double w = std::ceil(static_cast<double>(logical.width) / PANGO_SCALE);
  double h = std::ceil(static_cast<double>(logical.height) / PANGO_SCALE);
  return CGSize{std::min(w, max_width), h};
}

namespace paint {

void drawLabel(cairo_t* cr, UILabel* label, const CGRect& bounds) {
  if (!label->attributedText || label->attributedText->runs.empty()) return;
  std::vector<Attachment> attachments;
  LayoutPtr layout = layoutLabel(drawingContext(cr), label, bounds.width, &attachments);
  PangoRectangle logical;
  pango_layout_get_extents(layout.get(), nullptr, &logical);
  double height = static_cast<double>(logical.height) / PANGO_SCALE;
  double top = bounds.y + (bounds.height - height) / 2;
  cairo_save(cr);
  cairo_move_to(cr, bounds.x, top);
  setColor(cr, label->textColor);
  pango_cairo_show_layout(cr, layout.get());
  double baseline =
      top + static_cast<double>(pango_layout_get_baseline(layout.get())) / PANGO_SCALE;
  for (const Attachment& a : attachments) {
    if (a.image == nullptr) continue;
    PangoRectangle pos;
    pango_layout_index_to_pos(layout.get(), a.index, &pos);
    double x = bounds.x + static_cast<double>(pos.x) / PANGO_SCALE;
    drawImage(cr, a.image, CGRect{x, baseline - a.height * 0.85, a.width, a.height},
              label->textColor);
  }
  cairo_restore(cr);
}

void drawText(cairo_t* cr, const std::string& text, double size, bool bold, const CGPoint& at) {
  LayoutPtr layout(pango_layout_new(drawingContext(cr)));
  PangoFontDescription* d = fontDescription(size, bold ? UIFontWeightBold : UIFontWeightRegular);
  pango_layout_set_font_description(layout.get(), d);
  pango_font_description_free(d);
  pango_layout_set_text(layout.get(), text.c_str(), static_cast<int>(text.size()));
  cairo_move_to(cr, at.x, at.y);
  pango_cairo_show_layout(cr, layout.get());
}

}  // namespace paint
}  // namespace uikit

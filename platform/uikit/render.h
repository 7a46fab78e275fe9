// Drawing a screen's windows into pixels, and writing them as a PNG.
//
// Every view paints itself in its own coordinates (its -drawRect:, with the
// painter of painter.h translated to the view's origin by its superview), then
// its subviews on top, in order; a hidden view and everything under it is
// skipped; a view that clips to its bounds clips its subviews. A layer with a
// visible shadow first casts it: the view's drawn content (its own painting
// and its subviews') is drawn again as coverage only, blurred with a Gaussian
// of standard deviation radius / 2, moved by the shadow's offset and filled
// with the shadow colour at the shadow's opacity, under the content.
//
// Text is set with Pango in the Inter font (regular, semibold or bold for the
// system font), drawn with Cairo, at the screen's scale.
//
// Thread safety: main thread only (the views are main-thread objects).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/uikit/uiview.h"
#include "platform/uikit/uiwindow.h"

namespace uikit {

// An opaque picture: each pixel 0xRRGGBB in its low 24 bits (the top byte
// means nothing; the screen is opaque), rows top to bottom.
struct Bitmap {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;

  uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x] & 0xFFFFFF; }
};

// Draws `windows`, bottom one first, onto a screen of `screen`'s size at its
// scale. The windows must have been laid out (layoutWindow).
Bitmap renderScreen(const std::vector<UIView*>& windows, const Screen& screen);
// The same into `into`, whose pixel memory is reused when it already has the
// screen's size (a redraw after every action need not allocate).
void renderScreen(const std::vector<UIView*>& windows, const Screen& screen, Bitmap* into);

// Puts the picture as the bytes of a PNG file in `bytes`. Returns "" or an
// error (an empty picture, pixels that do not match its size, Cairo failing),
// with `bytes` left empty.
std::string encodePng(const Bitmap& bitmap, std::string* bytes);
// Writes `bitmap` as a PNG at the real path `path` so that a reader never sees
// part of one (device::writeFileAtomically: a temporary file beside it,
// renamed over it). Returns "" or an error; on an error nothing is left behind.
std::string writePng(const Bitmap& bitmap, const std::string& path);

// How many decoded images have a drawing surface kept for them; a surface is
// dropped once its image and the image's tinted copies are gone.
std::size_t imageSurfacesKept();

}  // namespace uikit

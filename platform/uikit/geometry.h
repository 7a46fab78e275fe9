// Geometry of the simulated device's CoreGraphics: points, sizes and
// rectangles in points, plain structs passed by value through the runtime
// (a method taking a CGRect is defined and sent with CGRect).
//
// Thread safety: values; no shared state.
#pragma once

#include <string>

using CGFloat = double;

struct CGPoint {
  CGFloat x = 0;
  CGFloat y = 0;
  bool operator==(const CGPoint&) const = default;
};

struct CGSize {
  CGFloat width = 0;
  CGFloat height = 0;
  bool operator==(const CGSize&) const = default;
};

// A rectangle: its origin (x, y) in the coordinates of the view's superview,
// and its size.
struct CGRect {
  CGFloat x = 0;
  CGFloat y = 0;
  CGFloat width = 0;
  CGFloat height = 0;
  bool operator==(const CGRect&) const = default;
};

inline constexpr CGRect CGRectZero{};
inline constexpr CGSize CGSizeZero{};
inline constexpr CGPoint CGPointZero{};

constexpr CGRect CGRectMake(CGFloat x, CGFloat y, CGFloat width, CGFloat height) {
  return CGRect{x, y, width, height};
}
constexpr CGSize CGSizeMake(CGFloat width, CGFloat height) { return CGSize{width, height}; }
constexpr CGPoint CGPointMake(CGFloat x, CGFloat y) { return CGPoint{x, y}; }

namespace uikit {

// A number as the device prints it: shortest form, "37.5", "125", "0.3".
std::string formatNumber(double value);
// "(37.5,12.5,125,125)"
std::string describeRect(const CGRect& rect);
// "125x125"
std::string describeSize(const CGSize& size);

}  // namespace uikit

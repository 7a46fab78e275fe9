// CoreGraphics' geometry as the phone's frameworks pass it: CGFloat is double
// on arm64, and a CGSize or CGPoint travels in two floating-point registers.
#pragma once

using CGFloat = double;

struct CGPoint {
  CGFloat x;
  CGFloat y;
};
struct CGSize {
  CGFloat width;
  CGFloat height;
};
struct CGRect {
  CGPoint origin;
  CGSize size;
};

constexpr CGRect CGRectMake(CGFloat x, CGFloat y, CGFloat width, CGFloat height) {
  return CGRect{{x, y}, {width, height}};
}
constexpr CGSize CGSizeMake(CGFloat width, CGFloat height) { return CGSize{width, height}; }

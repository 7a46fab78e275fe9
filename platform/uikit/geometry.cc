#include "platform/uikit/geometry.h"

#include <cstdio>

namespace uikit {

std::string formatNumber(double value) {
  if (value == 0) value = 0;  // no "-0"
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", value);
  return buf;
}

std::string describeRect(const CGRect& rect) {
  return "(" + formatNumber(rect.x) + "," + formatNumber(rect.y) + "," + formatNumber(rect.width) +
         "," + formatNumber(rect.height) + ")";
}

std::string describeSize(const CGSize& size) {
  return formatNumber(size.width) + "x" + formatNumber(size.height);
}

}  // namespace uikit

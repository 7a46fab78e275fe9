// Registers UIKit's classes when the library loads.
#include "platform/uikit/uikit.h"

namespace {

[[maybe_unused]] const bool kRegistered = [] {
  uikit::deviceClass();
  uikit::colorClass();
  uikit::cgColorClass();
  uikit::fontClass();
  uikit::imageClass();
  uikit::textAttachmentClass();
  uikit::attributedStringClass();
  uikit::responderClass();
  uikit::layerClass();
  uikit::viewClass();
  uikit::layoutAnchorClass();
  uikit::layoutXAxisAnchorClass();
  uikit::layoutYAxisAnchorClass();
  uikit::layoutDimensionClass();
  uikit::layoutConstraintClass();
  uikit::labelClass();
  uikit::imageViewClass();
  uikit::controlClass();
  uikit::switchClass();
  uikit::barButtonItemClass();
  uikit::navigationItemClass();
  uikit::viewControllerClass();
  uikit::navigationControllerClass();
  uikit::tableViewClass();
  uikit::tableViewCellClass();
  uikit::buttonClass();
  uikit::navigationBarClass();
  uikit::windowClass();
  uikit::statusBarClass();
  uikit::splitViewControllerClass();
  uikit::indexPathClass();
  uikit::notificationClass();
  return true;
}();

}  // namespace

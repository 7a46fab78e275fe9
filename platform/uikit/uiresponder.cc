#include "platform/uikit/uiresponder.h"

namespace uikit {

Class responderClass() {
  static Class cls = objc::defineClass<UIResponder>("UIResponder", objc::nsobjectClass());
  return cls;
}

}  // namespace uikit

// The privacy daemon's service objects, as the library reads them.
#pragma once

#include "runtime/objc.h"

namespace host {

id serviceName(id service);

}  // namespace host

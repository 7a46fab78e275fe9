#include "tweak/host/privacy.h"

#include "platform/objc/message.h"

namespace host {

id serviceName(id service) { return msg<id>(service, "name"_sel); }

}  // namespace host

#include "tweak/host/privacy.h"

#include "runtime/message.h"

namespace host {

id serviceName(id service) { return msg<id>(service, "name"_sel); }

}  // namespace host

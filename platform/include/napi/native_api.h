// Stand-in for the platform's Node-API header: Node.js provides the same C interface. Its headers
// sit beside this one in the device check's sysroot, as in the SDK; on the host they come from
// the include path.
#ifndef KAVORI_PLATFORM_NAPI_NATIVE_API_H
#define KAVORI_PLATFORM_NAPI_NATIVE_API_H

#include "node_api.h"

#endif

// Host stand-in for the platform's Node-API header: Node.js provides the same C interface.
#ifndef KAVORI_PLATFORM_NAPI_NATIVE_API_H
#define KAVORI_PLATFORM_NAPI_NATIVE_API_H

#include <node_api.h>

#endif

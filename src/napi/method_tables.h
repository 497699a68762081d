// The module method table (ModuleInit) and the export method table (Export), as data.
#ifndef KAVORI_NAPI_METHOD_TABLES_H
#define KAVORI_NAPI_METHOD_TABLES_H

#include <napi/native_api.h>

#include <cstddef>

constexpr size_t kModuleMethodCount = 33;
constexpr size_t kExportMethodCount = 35;

extern const napi_property_descriptor kModuleMethods[kModuleMethodCount];
extern const napi_property_descriptor kExportMethods[kExportMethodCount];

#endif

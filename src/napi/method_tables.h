// The module method table (ModuleInit) and the export method table (Export), as data.
#ifndef KAVORI_NAPI_METHOD_TABLES_H
#define KAVORI_NAPI_METHOD_TABLES_H

#include <napi/native_api.h>

#include <cstddef>

extern const napi_property_descriptor kModuleMethods[];
extern const size_t kModuleMethodCount;
extern const napi_property_descriptor kExportMethods[];
extern const size_t kExportMethodCount;

#endif

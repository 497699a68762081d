// The module's log call into hilog. Safe from any thread; silent until switched on.
#ifndef KAVORI_UTIL_OHOS_LOG_H
#define KAVORI_UTIL_OHOS_LOG_H

#include "util/kavori_export.h"

#ifdef __cplusplus
extern "C" {
#endif

// Process-wide switch; read and written with relaxed atomic operations only.
extern KAVORI_EXPORT bool g_ohos_log_on;

// level: 0 info, 1 debug, 2 warn, 3 error, 4 fatal; anything else info.
KAVORI_EXPORT void __ohos_log_print(int level, const char *tag, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));
KAVORI_EXPORT void __ohos_log_print_debug(int level, const char *tag, const char *file, int line,
                                          const char *fmt, ...)
    __attribute__((format(printf, 5, 6)));

// Relaxed: the switch publishes nothing else; a thread that sees it late logs a line less.
static inline bool ohos_log_is_on(void) {
    return __atomic_load_n(&g_ohos_log_on, __ATOMIC_RELAXED);
}
static inline void ohos_log_switch_on(void) {
    __atomic_store_n(&g_ohos_log_on, true, __ATOMIC_RELAXED);
}

#ifdef __cplusplus
}
#endif

#define KAVORI_LOG_TAG "KavoriPlayer"
// The switch is tested here too: every JS method writes a line, and while logging is off that
// costs one load instead of a call.
#define LOGI(...) (ohos_log_is_on() ? __ohos_log_print(0, KAVORI_LOG_TAG, __VA_ARGS__) : (void)0)
#define LOGE(...) (ohos_log_is_on() ? __ohos_log_print(3, KAVORI_LOG_TAG, __VA_ARGS__) : (void)0)

#endif

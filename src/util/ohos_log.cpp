// The module's log call. Any thread may call it: all working state is on the caller's stack.
#include "util/ohos_log.h"

#include <hilog/log.h>

#include <cstdarg>
#include <cstdio>

bool g_ohos_log_on = false;

namespace {

constexpr size_t kLineBufferSize = 4096;

LogLevel MapLevel(int level) {
    switch (static_cast<unsigned>(level)) {
        case 1:
            return LOG_DEBUG;
        case 2:
            return LOG_WARN;
        case 3:
            return LOG_ERROR;
        case 4:
            return LOG_FATAL;
        default:
            return LOG_INFO;
    }
}

}  // namespace

void __ohos_log_print(int level, const char *tag, const char *fmt, ...) {
    if (!ohos_log_is_on()) return;
    char buffer[kLineBufferSize] = {0};
    va_list args;
    va_start(args, fmt);
    vsnprintf(buffer, sizeof(buffer), fmt, args);
    va_end(args);
    OH_LOG_Print(LOG_APP, MapLevel(level), 0, tag, "%{public}s", buffer);
}

void __ohos_log_print_debug(int level, const char *tag, const char *file, int line, const char *fmt,
                            ...) {
    if (!ohos_log_is_on()) return;
    char buffer[kLineBufferSize] = {0};
    va_list args;
    va_start(args, fmt);
    vsnprintf(buffer, sizeof(buffer), fmt, args);
    va_end(args);
    OH_LOG_Print(LOG_APP, MapLevel(level), 0, tag, "%{public}s:%{public}d %{public}s", file, line,
                 buffer);
}

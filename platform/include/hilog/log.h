// Host stand-in for the platform's hilog interface (libhilog_ndk.z.so).
#ifndef KAVORI_PLATFORM_HILOG_LOG_H
#define KAVORI_PLATFORM_HILOG_LOG_H

#ifdef __cplusplus
extern "C" {
#endif

typedef enum { LOG_APP = 0 } LogType;

typedef enum {
    LOG_DEBUG = 3,
    LOG_INFO = 4,
    LOG_WARN = 5,
    LOG_ERROR = 6,
    LOG_FATAL = 7,
} LogLevel;

// Formats one record and writes it as one line; the format may carry privacy flags
// (%{public}s, %{private}d).
int OH_LOG_Print(LogType type, LogLevel level, unsigned int domain, const char *tag,
                 const char *fmt, ...);

#ifdef __cplusplus
}
#endif

#endif

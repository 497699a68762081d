// Relay of FFmpeg's log lines into the module log.
#ifndef KAVORI_UTIL_FFMPEG_LOG_H
#define KAVORI_UTIL_FFMPEG_LOG_H

#include <stdarg.h>

#include "util/kavori_export.h"

#ifdef __cplusplus
extern "C" {
#endif

// Sets FFmpeg's debug level and installs av_log_callback; harmless to repeat.
KAVORI_EXPORT void open_custom_ffmpeg_log_print(void);
// Called by FFmpeg from any thread.
KAVORI_EXPORT void av_log_callback(void *ptr, int level, const char *fmt, va_list args);

#ifdef __cplusplus
}
#endif

#endif

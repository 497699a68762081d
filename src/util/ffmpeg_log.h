// Relay of FFmpeg's log lines into the module log.
#ifndef KAVORI_UTIL_FFMPEG_LOG_H
#define KAVORI_UTIL_FFMPEG_LOG_H

#include <stdarg.h>

#ifdef __cplusplus
extern "C" {
#endif

// Sets FFmpeg's debug level and installs av_log_callback; harmless to repeat.
void open_custom_ffmpeg_log_print(void);
// Called by FFmpeg from any thread.
void av_log_callback(void *ptr, int level, const char *fmt, va_list args);

#ifdef __cplusplus
}
#endif

#endif

// hilog stand-in: each record becomes one line "<L> A<domain>/<tag>: <message>" in the file
// named by KAVORI_HILOG_FILE (append mode), else on stderr. Privacy flags are removed and values
// shown, as a debug build of the device shows them.
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "hilog/log.h"

static int g_fd = STDERR_FILENO;
static pthread_once_t g_once = PTHREAD_ONCE_INIT;

static void open_sink(void) {
    const char *path = getenv("KAVORI_HILOG_FILE");
    if (path == NULL || path[0] == '\0') return;
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) g_fd = fd;
}

static char level_letter(LogLevel level) {
    static const char letters[] = "DIWEF";
    return (level >= LOG_DEBUG && level <= LOG_FATAL) ? letters[level - LOG_DEBUG] : '?';
}

// The format without its privacy flags: "%{public}s" becomes "%s".
static char *strip_privacy_flags(const char *fmt) {
    size_t len = strlen(fmt);
    char *out = malloc(len + 1);
    if (out == NULL) return NULL;
    size_t n = 0;
    for (size_t i = 0; i < len; ++i) {
        out[n++] = fmt[i];
        if (fmt[i] == '%' && fmt[i + 1] == '{') {
            const char *close = strchr(fmt + i + 1, '}');
            if (close != NULL) i = (size_t)(close - fmt);
        }
    }
    out[n] = '\0';
    return out;
}

static char *format_message(const char *fmt, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int len = vsnprintf(NULL, 0, fmt, copy);
    va_end(copy);
    if (len < 0) return NULL;
    char *text = malloc((size_t)len + 1);
    if (text != NULL) vsnprintf(text, (size_t)len + 1, fmt, args);
    return text;
}

// Writes the whole record with one write() so lines of many threads never interleave.
static void write_record(char letter, unsigned int domain, const char *tag, const char *message) {
    size_t cap = strlen(tag) + 2 * strlen(message) + 32;
    char *line = malloc(cap);
    if (line == NULL) return;
    int n = snprintf(line, cap, "%c A%05X/%s: ", letter, domain & 0xFFFFFu, tag);
    for (const char *p = message; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '\n' || *p == '\r') {
            line[n++] = '\\';
            line[n++] = *p == '\\' ? '\\' : (*p == '\n' ? 'n' : 'r');
        } else {
            line[n++] = *p;
        }
    }
    line[n++] = '\n';
    ssize_t written = write(g_fd, line, (size_t)n);
    (void)written;
    free(line);
}

int OH_LOG_Print(LogType type, LogLevel level, unsigned int domain, const char *tag,
                 const char *fmt, ...) {
    (void)type;
    if (tag == NULL || fmt == NULL) return -1;
    pthread_once(&g_once, open_sink);
    char *plain = strip_privacy_flags(fmt);
    if (plain == NULL) return -1;
    va_list args;
    va_start(args, fmt);
    char *message = format_message(plain, args);
    va_end(args);
    free(plain);
    if (message == NULL) return -1;
    write_record(level_letter(level), domain, tag, message);
    int len = (int)strlen(message);
    free(message);
    return len;
}

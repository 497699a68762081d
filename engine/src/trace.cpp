#include "trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace kavori {

namespace {

int open_trace() {
    const char *path = getenv("KAVORI_ENGINE_TRACE");
    if (!path || !*path) return -1;
    return open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

void write_line(std::string &line) {
    line += '\n';
    // O_APPEND makes each write land whole at the end, whatever the other threads
    // do.
    if (write(trace_fd(), line.data(), line.size()) < 0) return;
}

}  // namespace

int trace_fd() {
    static const int fd = open_trace();
    return fd;
}

TraceLine::TraceLine(const char *name, int serial) : line_(name) {
    if (serial > 0) {
        line_ += " #";
        line_ += std::to_string(serial);
    } else {
        line_ += " null";
    }
}

TraceLine::~TraceLine() {
    write_line(line_);
}

// Escaped as the hilog stand-in escapes, so that a text with line breaks (a header block) keeps
// the call on one line for the readers that take the trace line by line.
TraceLine &TraceLine::text(const char *s) {
    line_ += ' ';
    if (!s) {
        line_ += "null";
        return *this;
    }
    for (; *s; s++) {
        switch (*s) {
            case '\\':
                line_ += "\\\\";
                break;
            case '\n':
                line_ += "\\n";
                break;
            case '\r':
                line_ += "\\r";
                break;
            default:
                line_ += *s;
        }
    }
    return *this;
}

TraceLine &TraceLine::ptr(const void *p) {
    char buf[32];
    if (p)
        snprintf(buf, sizeof buf, " 0x%" PRIxPTR, reinterpret_cast<uintptr_t>(p));
    else
        snprintf(buf, sizeof buf, " null");
    line_ += buf;
    return *this;
}

TraceLine &TraceLine::fn(void (*f)()) {
    return ptr(reinterpret_cast<const void *>(f));
}

TraceLine &TraceLine::num(int64_t v) {
    line_ += ' ';
    line_ += std::to_string(v);
    return *this;
}

TraceLine &TraceLine::real(double v) {
    char buf[48];
    snprintf(buf, sizeof buf, " %g", v);
    line_ += buf;
    return *this;
}

void trace_event(const char *event, int serial) {
    if (!trace_on()) return;
    std::string line = event;
    line += " #";
    line += std::to_string(serial);
    write_line(line);
}

}  // namespace kavori

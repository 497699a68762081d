// Call trace of the engine, for tests: one line per engine call, appended to
// the file named by KAVORI_ENGINE_TRACE. Any thread may write; each line is one
// write() on an O_APPEND file.
#ifndef KAVORI_ENGINE_TRACE_H
#define KAVORI_ENGINE_TRACE_H

#include <cstdint>
#include <string>

namespace kavori {

// File descriptor of the trace file, or -1; the environment is read on first
// use.
int trace_fd();

inline bool trace_on() {
    return trace_fd() >= 0;
}

// Builds one line and writes it when destroyed. Use only after trace_on().
class TraceLine {
  public:
    explicit TraceLine(const char *name) : line_(name) {}
    TraceLine(const char *name, int serial);  // serial 0 stands for a null player
    ~TraceLine();
    TraceLine(const TraceLine &) = delete;
    TraceLine &operator=(const TraceLine &) = delete;

    TraceLine &text(const char *s);
    TraceLine &ptr(const void *p);
    TraceLine &fn(void (*f)());
    TraceLine &num(int64_t v);
    TraceLine &real(double v);

  private:
    std::string line_;
};

// The lines written when a player's count reaches zero and when its message
// thread ends.
void trace_event(const char *event, int serial);

}  // namespace kavori

#endif

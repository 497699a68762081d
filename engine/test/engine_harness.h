// Test harness: a player whose message thread records what it receives, and trace reading.
#ifndef KAVORI_ENGINE_TEST_HARNESS_H
#define KAVORI_ENGINE_TEST_HARNESS_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "kvmp.h"

namespace kavori_test {

struct Received {
    int what;
    int param1;
    int param2;
    bool has_obj;
    std::string payload;  // obj up to its first NUL
};

// Messages seen by a player's message thread; the thread finds it through the weak value.
class Inbox {
  public:
    static int entry(void *mp);

    // Waits until pred holds for the messages seen so far (or the thread ended).
    bool wait(const std::function<bool(const std::vector<Received> &)> &pred,
              std::chrono::milliseconds timeout = std::chrono::seconds(5));
    bool wait_for_what(int what, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    bool wait_exit(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    std::vector<Received> messages();
    std::vector<int> whats();

  private:
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<Received> messages_;
    bool exited_ = false;
};

// A player driven by an Inbox; the destructor shuts it down and waits until it is freed.
class TestPlayer {
  public:
    TestPlayer();
    ~TestPlayer();
    KavoriCloudMediaPlayer *mp() const { return mp_; }
    int serial() const { return serial_; }
    Inbox &inbox() { return inbox_; }
    // Sets the source, runs unpaced unless told otherwise, prepares and waits for 200.
    bool prepare(const std::string &url, int speed = 0);

  private:
    Inbox inbox_;
    KavoriCloudMediaPlayer *mp_;
    int serial_;
};

std::string trace_path();
std::vector<std::string> trace_lines();
int count_trace_lines(const std::string &line);
// Waits until the trace holds the line (the engine writes it from another thread).
bool wait_trace_line(const std::string &line,
                     std::chrono::milliseconds timeout = std::chrono::seconds(5));
std::string media_path(const char *name);

}  // namespace kavori_test

#endif

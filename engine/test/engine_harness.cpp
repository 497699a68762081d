#include "engine_harness.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <thread>

#include "player.h"

namespace kavori_test {

int Inbox::entry(void *arg) {
    auto *mp = static_cast<KavoriCloudMediaPlayer *>(arg);
    auto *inbox = static_cast<Inbox *>(kvmp_get_weak_thiz(mp));
    EngineMessage msg{};
    while (kvmp_get_msg(mp, &msg, 1) > 0) {
        Received r{msg.what, msg.param1, msg.param2, msg.obj != nullptr, ""};
        if (msg.obj) r.payload = static_cast<const char *>(msg.obj);
        msg_free_res(&msg);
        std::lock_guard<std::mutex> lock(inbox->mu_);
        inbox->messages_.push_back(r);
        inbox->cv_.notify_all();
    }
    {
        std::lock_guard<std::mutex> lock(inbox->mu_);
        inbox->exited_ = true;
        inbox->cv_.notify_all();
    }
    kvmp_dec_ref_p(&mp);
    return 0;
}

bool Inbox::wait(const std::function<bool(const std::vector<Received> &)> &pred,
                 std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, timeout, [&] { return pred(messages_); });
}

bool Inbox::wait_for_what(int what, std::chrono::milliseconds timeout) {
    return wait(
        [what](const std::vector<Received> &ms) {
            return std::any_of(ms.begin(), ms.end(),
                               [what](const Received &r) { return r.what == what; });
        },
        timeout);
}

bool Inbox::wait_exit(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, timeout, [this] { return exited_; });
}

std::vector<Received> Inbox::messages() {
    std::lock_guard<std::mutex> lock(mu_);
    return messages_;
}

std::vector<int> Inbox::whats() {
    std::vector<int> out;
    for (const Received &r : messages()) out.push_back(r.what);
    return out;
}

TestPlayer::TestPlayer() : mp_(kvmp_create(&Inbox::entry)) {
    serial_ = mp_ ? mp_->serial : 0;
    if (mp_) kvmp_set_weak_thiz(mp_, &inbox_);
}

TestPlayer::~TestPlayer() {
    if (!mp_) return;
    kvmp_shutdown(mp_);
    EXPECT_TRUE(inbox_.wait_exit());
    kvmp_dec_ref_p(&mp_);
    EXPECT_TRUE(wait_trace_line("free #" + std::to_string(serial_)));
}

bool TestPlayer::prepare(const std::string &url, int speed) {
    kvmp_set_option_int(mp_, KVMP_OPT_CATEGORY_PLAYER, KVMP_OPT_SPEED, speed);
    kvmp_set_data_source(mp_, url.c_str());
    kvmp_prepare_async(mp_);
    return inbox_.wait([](const std::vector<Received> &ms) {
        return std::any_of(ms.begin(), ms.end(), [](const Received &r) {
            return r.what == KVP_MSG_PREPARED || r.what == KVP_MSG_ERROR;
        });
    });
}

std::string trace_path() {
    const char *path = getenv("KAVORI_ENGINE_TRACE");
    return path ? path : "";
}

std::vector<std::string> trace_lines() {
    std::vector<std::string> lines;
    std::ifstream in(trace_path());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

int count_trace_lines(const std::string &line) {
    std::vector<std::string> lines = trace_lines();
    return int(std::count(lines.begin(), lines.end(), line));
}

bool wait_trace_line(const std::string &line, std::chrono::milliseconds timeout) {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (count_trace_lines(line) == 0) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::string media_path(const char *name) {
    return std::string(KAVORI_MEDIA_DIR) + "/" + name;
}

}  // namespace kavori_test

// The trace is read once per process, so it is switched on before any test runs.
int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    std::string path =
        testing::TempDir() + "kavori_engine_trace_" + std::to_string(getpid()) + ".txt";
    remove(path.c_str());
    setenv("KAVORI_ENGINE_TRACE", path.c_str(), 1);
    int result = RUN_ALL_TESTS();
    remove(path.c_str());
    return result;
}

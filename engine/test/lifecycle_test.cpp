// Reference counting, the message thread and shutdown.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "engine_harness.h"
#include "message_queue.h"
#include "player.h"

using namespace kavori_test;

namespace {

// An entry that holds its reference until the test lets it go.
std::promise<void> *g_release_entry = nullptr;

int late_entry(void *arg) {
    auto *mp = static_cast<KavoriCloudMediaPlayer *>(arg);
    EngineMessage msg{};
    while (kvmp_get_msg(mp, &msg, 1) > 0) msg_free_res(&msg);
    g_release_entry->get_future().wait();
    kvmp_dec_ref_p(&mp);
    return 0;
}

// An entry that starts taking messages only when the test lets it, counting what it gets.
std::promise<void> *g_open_gate = nullptr;
std::atomic<int> g_delivered{0};

int gated_entry(void *arg) {
    auto *mp = static_cast<KavoriCloudMediaPlayer *>(arg);
    g_open_gate->get_future().wait();
    EngineMessage msg{};
    while (kvmp_get_msg(mp, &msg, 1) > 0) {
        g_delivered++;
        msg_free_res(&msg);
    }
    kvmp_dec_ref_p(&mp);
    return 0;
}

std::atomic<int> g_freed{0};
void count_free(void *obj) {
    g_freed++;
    free(obj);
}

}  // namespace

TEST(Lifecycle, FreedOnceAfterTheLastReference) {
    Inbox inbox;
    KavoriCloudMediaPlayer *mp = kvmp_create(&Inbox::entry);
    ASSERT_NE(mp, nullptr);
    const std::string freed = "free #" + std::to_string(mp->serial);
    kvmp_set_weak_thiz(mp, &inbox);
    KavoriCloudMediaPlayer *extra = mp;
    kvmp_inc_ref(extra);
    kvmp_dec_ref_p(&extra);
    EXPECT_EQ(extra, nullptr);

    kvmp_shutdown(mp);
    ASSERT_TRUE(inbox.wait_exit());
    ASSERT_TRUE(wait_trace_line("thread-exit #" + std::to_string(mp->serial)));
    EXPECT_EQ(count_trace_lines(freed), 0);  // the caller's reference is still there

    kvmp_dec_ref_p(&mp);
    EXPECT_EQ(mp, nullptr);
    EXPECT_EQ(count_trace_lines(freed), 1);
    kvmp_dec_ref_p(&mp);  // a null handle is left alone
    EXPECT_EQ(count_trace_lines(freed), 1);
}

TEST(Lifecycle, LastReferenceDroppedOnTheMessageThread) {
    std::promise<void> release;
    g_release_entry = &release;
    KavoriCloudMediaPlayer *mp = kvmp_create(&late_entry);
    ASSERT_NE(mp, nullptr);
    const int serial = mp->serial;
    kvmp_set_data_source(mp, "script:200;300");
    kvmp_prepare_async(mp);
    kvmp_shutdown(mp);
    kvmp_dec_ref_p(&mp);
    EXPECT_EQ(count_trace_lines("free #" + std::to_string(serial)), 0);
    release.set_value();
    EXPECT_TRUE(wait_trace_line("free #" + std::to_string(serial)));
    EXPECT_TRUE(wait_trace_line("thread-exit #" + std::to_string(serial)));
    EXPECT_EQ(count_trace_lines("free #" + std::to_string(serial)), 1);
}

TEST(Lifecycle, ShutdownWakesABlockedGet) {
    TestPlayer p;
    kvmp_set_data_source(p.mp(), "script:");  // nothing queued: the entry blocks at once
    ASSERT_EQ(kvmp_prepare_async(p.mp()), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    kvmp_shutdown(p.mp());
    EXPECT_TRUE(p.inbox().wait_exit(std::chrono::seconds(2)));
    EngineMessage msg{};
    EXPECT_LE(kvmp_get_msg(p.mp(), &msg, 1), 0);
    EXPECT_LE(kvmp_get_msg(p.mp(), &msg, 0), 0);
}

TEST(Lifecycle, NonBlockingGetOnAnEmptyQueue) {
    TestPlayer p;  // never prepared: its entry has not started taking messages
    EngineMessage msg{};
    EXPECT_EQ(kvmp_get_msg(p.mp(), &msg, 0), 0);
    EXPECT_LT(kvmp_get_msg(p.mp(), nullptr, 0), 0);
}

TEST(Lifecycle, WeakValueIsInPlaceBeforeTheEntryRuns) {
    for (int i = 0; i < 20; i++) {
        TestPlayer p;  // sets the weak value right after create, as the module does
        ASSERT_TRUE(p.prepare("script:200"));
        EXPECT_EQ(p.inbox().whats(), std::vector<int>{200});
    }
}

TEST(Lifecycle, TraceLinesCarryTheArguments) {
    TestPlayer p;
    const std::string n = "#" + std::to_string(p.serial());
    kvmp_set_volume(p.mp(), 0.5f, 1.0f);
    kvmp_set_option(p.mp(), 1, "name", nullptr);
    kvmp_set_stream_selected(p.mp(), 3, true);
    kvmp_set_surface(p.mp(), nullptr);
    kvmp_global_init();
    EXPECT_EQ(count_trace_lines("kvmp_set_volume " + n + " 0.5 1"), 1);
    EXPECT_EQ(count_trace_lines("kvmp_set_option " + n + " 1 name null"), 1);
    EXPECT_EQ(count_trace_lines("kvmp_set_stream_selected " + n + " 3 1"), 1);
    EXPECT_EQ(count_trace_lines("kvmp_set_surface " + n + " null"), 1);
    EXPECT_GE(count_trace_lines("kvmp_global_init"), 1);
}

TEST(Lifecycle, TraceKeepsATextWithLineBreaksOnOneLine) {
    TestPlayer p;
    const std::string n = "#" + std::to_string(p.serial());
    const struct {
        const char *value;
        const char *traced;
    } cases[] = {
        {"A: 1\r\nB: 2\r\n", "A: 1\\r\\nB: 2\\r\\n"},
        {"a\\nb", "a\\\\nb"},  // a backslash and n stay apart from a line feed
        {"\n", "\\n"},
    };
    for (const auto &c : cases) {
        kvmp_set_option(p.mp(), 1, "headers", c.value);
        EXPECT_EQ(count_trace_lines("kvmp_set_option " + n + " 1 headers " + c.traced), 1)
            << c.traced;
    }
    // What an unescaped block would leave: its second header, or nothing, as lines of their own.
    for (const std::string &line : trace_lines()) {
        EXPECT_FALSE(line.empty() || line.compare(0, 3, "B: ") == 0) << "'" << line << "'";
    }
}

TEST(Lifecycle, SettingsReadBack) {
    TestPlayer p;
    KavoriCloudMediaPlayer *mp = p.mp();
    EXPECT_EQ(kvmp_get_loop(mp), 1);
    kvmp_set_loop(mp, 0);
    EXPECT_EQ(kvmp_get_loop(mp), 0);
    EXPECT_FLOAT_EQ(kvmp_get_property_float(mp, 7, 2.5f), 2.5f);
    kvmp_set_property_float(mp, 7, 1.25f);
    EXPECT_FLOAT_EQ(kvmp_get_property_float(mp, 7, 2.5f), 1.25f);
    EXPECT_EQ(kvmp_get_property_int64(mp, 7, -3), -3);
    kvmp_set_property_int64(mp, 7, int64_t(1) << 40);
    EXPECT_EQ(kvmp_get_property_int64(mp, 7, -3), int64_t(1) << 40);
    EXPECT_GT(kvmp_get_audio_session_id(mp), 0);
    EXPECT_EQ(kvmp_get_audio_session_id(mp), kvmp_get_audio_session_id(mp));
    EXPECT_EQ(kvmp_set_weak_thiz(mp, nullptr), &p.inbox());
    EXPECT_EQ(kvmp_set_weak_thiz(mp, &p.inbox()), nullptr);

    EXPECT_EQ(kvmp_is_record(mp), 0);
    EXPECT_LT(kvmp_stop_record(mp), 0);
    EXPECT_EQ(kvmp_start_record(mp, 1), 0);
    EXPECT_EQ(kvmp_is_record(mp), 1);
    EXPECT_EQ(kvmp_stop_record(mp), 0);
    EXPECT_EQ(kvmp_is_record(mp), 0);

    char *text = nullptr;
    EXPECT_LT(kvmp_get_video_codec_info(mp, &text), 0);
    EXPECT_EQ(text, nullptr);
    EXPECT_LT(kvmp_set_stream_selected(mp, 0, true), 0);  // no streams before prepare
}

TEST(MessageQueue, QueuedPayloadsAreReleasedNotDelivered) {
    kavori::MessageQueue queue;
    g_freed = 0;
    for (int i = 0; i < 3; i++) queue.post(800, i, 0, strdup("x"), count_free);
    queue.post_repeated(502, 1, 2, 1000);
    EngineMessage msg{};
    ASSERT_EQ(queue.get(&msg, false), 1);
    EXPECT_EQ(msg.param1, 0);
    msg_free_res(&msg);
    EXPECT_EQ(g_freed, 1);

    queue.abort();
    EXPECT_EQ(g_freed, 3);
    EXPECT_EQ(queue.get(&msg, true), -1);
    queue.post(800, 9, 0, strdup("late"), count_free);  // refused and released at once
    EXPECT_EQ(g_freed, 4);
    EXPECT_EQ(queue.get(&msg, false), -1);
}

TEST(MessageQueue, PlayerShutdownDropsWhatIsQueued) {
    std::promise<void> gate;
    g_open_gate = &gate;
    g_delivered = 0;
    KavoriCloudMediaPlayer *mp = kvmp_create(&gated_entry);
    ASSERT_NE(mp, nullptr);
    kvmp_set_data_source(mp, "script:800,0,0,str:payload*50;300");
    kvmp_prepare_async(mp);
    kvmp_shutdown(mp);
    EngineMessage msg{};
    EXPECT_LE(kvmp_get_msg(mp, &msg, 0), 0);
    const int serial = mp->serial;
    kvmp_dec_ref_p(&mp);
    gate.set_value();
    EXPECT_TRUE(wait_trace_line("free #" + std::to_string(serial)));
    EXPECT_EQ(g_delivered, 0);  // the payloads were released by the engine (ASan checks leaks)
}

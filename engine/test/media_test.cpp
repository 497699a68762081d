// Media sources on the sample files: prepare, playback, seek, metadata.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <thread>

#include "engine_harness.h"

extern "C" {
#include <libavutil/error.h>
}

using namespace kavori_test;

namespace {

// The container duration in milliseconds as ffprobe reports it.
double ffprobe_duration_ms(const std::string &path) {
    std::string cmd = "ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path + "'";
    FILE *out = popen(cmd.c_str(), "r");
    if (!out) return -1;
    double seconds = -1;
    if (fscanf(out, "%lf", &seconds) != 1) seconds = -1;
    pclose(out);
    return seconds * 1000;
}

std::map<std::string, std::string> stream_values(KavoriCloudMediaMeta *meta, size_t index) {
    static const char *keys[] = {"type",          "language",
                                 "codec_name",    "codec_long_name",
                                 "codec_profile", "codec_profile_id",
                                 "codec_level",   "codec_pixel_format",
                                 "bitrate",       "width",
                                 "height",        "fps_num",
                                 "fps_den",       "tbr_num",
                                 "tbr_den",       "sar_num",
                                 "sar_den",       "sample_rate",
                                 "channel_layout"};
    std::map<std::string, std::string> values;
    KavoriCloudMediaMeta *node = kvmeta_get_child_l(meta, index);
    for (const char *key : keys) {
        const char *value = kvmeta_get_string_l(node, key);
        if (value) values[key] = value;
    }
    return values;
}

void play_to_end(TestPlayer &p) {
    auto completions = [](const std::vector<Received> &ms) {
        return std::count_if(ms.begin(), ms.end(),
                             [](const Received &r) { return r.what == KVP_MSG_COMPLETED; });
    };
    long done = completions(p.inbox().messages());
    ASSERT_EQ(kvmp_start(p.mp()), 0);
    ASSERT_TRUE(p.inbox().wait(
        [&](const std::vector<Received> &ms) { return completions(ms) == done + 1; }));
    EXPECT_FALSE(kvmp_is_playing(p.mp()));
    EXPECT_EQ(kvmp_get_current_position(p.mp()), kvmp_get_duration(p.mp()));
}

}  // namespace

TEST(Media, PrepareReportsEachStepThenPrepared) {
    struct Case {
        const char *file;
        std::vector<int> whats;
    } cases[] = {
        {"clip.mp4", {407, 408, 409, 400, 200}},
        {"tone.m4a", {407, 408, 409, 200}},
    };
    for (const Case &c : cases) {
        TestPlayer p;
        ASSERT_TRUE(p.prepare(media_path(c.file)));
        EXPECT_EQ(p.inbox().whats(), c.whats) << c.file;
        if (c.whats.size() == 5) {
            Received size = p.inbox().messages()[3];
            EXPECT_EQ(size.param1, 160);
            EXPECT_EQ(size.param2, 120);
        }
        double expected = ffprobe_duration_ms(media_path(c.file));
        EXPECT_NEAR(kvmp_get_duration(p.mp()), expected, 40) << c.file;
        EXPECT_EQ(kvmp_get_current_position(p.mp()), 0);
        EXPECT_FALSE(kvmp_is_playing(p.mp()));
    }
}

TEST(Media, UnpacedPlaybackReachesTheEnd) {
    TestPlayer p;
    ASSERT_TRUE(p.prepare(media_path("clip.mp4")));
    play_to_end(p);
    std::vector<int> whats = p.inbox().whats();
    auto count = [&](int what) { return std::count(whats.begin(), whats.end(), what); };
    EXPECT_EQ(count(KVP_MSG_AUDIO_RENDERING_START), 1);
    EXPECT_EQ(count(KVP_MSG_VIDEO_RENDERING_START), 1);
    EXPECT_EQ(whats.back(), KVP_MSG_COMPLETED);

    // Start after the end plays again from the start.
    size_t before = whats.size();
    play_to_end(p);
    EXPECT_EQ(p.inbox().whats().size(), before + 1);
}

TEST(Media, PacedPlaybackFollowsTheClock) {
    TestPlayer p;
    ASSERT_TRUE(p.prepare(media_path("tone.m4a"), 1));
    ASSERT_EQ(kvmp_start(p.mp()), 0);
    EXPECT_TRUE(kvmp_is_playing(p.mp()));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int first = kvmp_get_current_position(p.mp());
    EXPECT_GT(first, 50);
    EXPECT_LT(first, 3000);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    int second = kvmp_get_current_position(p.mp());
    EXPECT_GT(second, first);
    EXPECT_TRUE(p.inbox().wait_for_what(KVP_MSG_AUDIO_RENDERING_START));

    ASSERT_EQ(kvmp_pause(p.mp()), 0);
    EXPECT_FALSE(kvmp_is_playing(p.mp()));
    int paused = kvmp_get_current_position(p.mp());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(kvmp_get_current_position(p.mp()), paused);
    EXPECT_FALSE(p.inbox().wait_for_what(KVP_MSG_COMPLETED, std::chrono::milliseconds(0)));
}

TEST(Media, SeekMovesThePositionAndReports) {
    TestPlayer p;
    ASSERT_TRUE(p.prepare(media_path("clip.mp4")));
    ASSERT_EQ(kvmp_seek_to(p.mp(), 2000), 0);
    EXPECT_EQ(kvmp_get_current_position(p.mp()), 2000);
    ASSERT_TRUE(p.inbox().wait_for_what(KVP_MSG_SEEK_COMPLETE));
    EXPECT_EQ(p.inbox().messages().back().param1, 0);
    EXPECT_EQ(kvmp_get_current_position(p.mp()), 2000);
    play_to_end(p);
}

TEST(Media, LoopForeverNeverCompletes) {
    TestPlayer p;
    kvmp_set_loop(p.mp(), 0);
    ASSERT_TRUE(p.prepare(media_path("tone.m4a")));
    ASSERT_EQ(kvmp_start(p.mp()), 0);
    EXPECT_FALSE(p.inbox().wait_for_what(KVP_MSG_COMPLETED, std::chrono::milliseconds(300)));
    EXPECT_TRUE(kvmp_is_playing(p.mp()));
    kvmp_set_loop(p.mp(), 1);  // the pass under way becomes the last
    EXPECT_TRUE(p.inbox().wait_for_what(KVP_MSG_COMPLETED));
    EXPECT_EQ(kvmp_get_loop(p.mp()), 1);
}

TEST(Media, MetadataTreeDescribesEveryStream) {
    TestPlayer p;
    ASSERT_TRUE(p.prepare(media_path("clip.mp4")));
    KavoriCloudMediaMeta *meta = kvmp_get_meta_l(p.mp());
    ASSERT_NE(meta, nullptr);
    ASSERT_EQ(kvmeta_get_children_count_l(meta), 2u);
    EXPECT_EQ(kvmeta_get_child_l(meta, 2), nullptr);

    std::map<std::string, std::string> video = stream_values(meta, 0);
    std::map<std::string, std::string> expected_video = {
        {"type", "video"},         {"codec_name", "h264"},
        {"codec_profile", "High"}, {"codec_profile_id", "100"},
        {"codec_level", "12"},     {"codec_pixel_format", "yuv420p"},
        {"width", "160"},          {"height", "120"},
        {"fps_num", "25"},         {"fps_den", "1"},
        {"tbr_num", "25"},         {"tbr_den", "1"}};
    for (const auto &kv : expected_video) EXPECT_EQ(video[kv.first], kv.second) << kv.first;
    EXPECT_EQ(video["codec_long_name"].rfind("H.264", 0), 0u);
    EXPECT_EQ(video.count("sample_rate"), 0u);
    EXPECT_GT(atoi(video["bitrate"].c_str()), 0);

    std::map<std::string, std::string> audio = stream_values(meta, 1);
    std::map<std::string, std::string> expected_audio = {
        {"type", "audio"},       {"language", "eng"},      {"codec_name", "aac"},
        {"codec_profile", "LC"}, {"sample_rate", "44100"}, {"channel_layout", "3"}};
    for (const auto &kv : expected_audio) EXPECT_EQ(audio[kv.first], kv.second) << kv.first;
    EXPECT_EQ(audio.count("width"), 0u);
    EXPECT_EQ(audio.count("codec_pixel_format"), 0u);

    char *text = nullptr;
    ASSERT_EQ(kvmp_get_video_codec_info(p.mp(), &text), 0);
    EXPECT_STREQ(text, "h264 (High), yuv420p, 160x120");
    ASSERT_EQ(kvmp_get_audio_codec_info(p.mp(), &text), 0);
    EXPECT_STREQ(text, "aac (LC), 44100 Hz, stereo");

    EXPECT_EQ(kvmp_set_stream_selected(p.mp(), 1, false), 0);
    EXPECT_LT(kvmp_set_stream_selected(p.mp(), 2, true), 0);
    EXPECT_LT(kvmp_set_stream_selected(p.mp(), -1, true), 0);
}

TEST(Media, TreeOfAnEarlierPrepareStaysReadable) {
    TestPlayer p;
    ASSERT_TRUE(p.prepare(media_path("tone.m4a")));
    KavoriCloudMediaMeta *first = kvmp_get_meta_l(p.mp());
    ASSERT_NE(first, nullptr);
    kvmp_set_data_source(p.mp(), "script:300");
    kvmp_prepare_async(p.mp());
    ASSERT_TRUE(p.inbox().wait_for_what(KVP_MSG_COMPLETED));
    EXPECT_EQ(kvmp_get_meta_l(p.mp()), nullptr);
    EXPECT_STREQ(kvmeta_get_string_l(kvmeta_get_child_l(first, 0), "channel_layout"), "4");
}

TEST(Media, OpenFailurePostsTheFfmpegError) {
    TestPlayer p;
    ASSERT_TRUE(p.prepare("/nonexistent/kavori.mp4"));
    std::vector<Received> got = p.inbox().messages();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].what, KVP_MSG_ERROR);
    EXPECT_EQ(got[0].param1, AVERROR(ENOENT));
    EXPECT_EQ(kvmp_get_meta_l(p.mp()), nullptr);
    EXPECT_LT(kvmp_start(p.mp()), 0);
    EXPECT_FALSE(kvmp_is_playing(p.mp()));
}

TEST(Media, PipeSourceLeavesTheDescriptorOpen) {
    int fd = open(media_path("tone.m4a").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    {
        TestPlayer p;
        ASSERT_TRUE(p.prepare("pipe:" + std::to_string(fd)));
        EXPECT_EQ(p.inbox().whats().back(), KVP_MSG_PREPARED);
        play_to_end(p);
    }
    EXPECT_GE(fcntl(fd, F_GETFD), 0);
    close(fd);
}

TEST(Media, ShutdownStopsAPipeThatNeverDelivers) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    {
        TestPlayer p;
        kvmp_set_data_source(p.mp(), ("pipe:" + std::to_string(fds[0])).c_str());
        kvmp_prepare_async(p.mp());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        // The destructor shuts the player down; a reader stuck in read() would hang here.
    }
    EXPECT_GE(fcntl(fds[0], F_GETFD), 0);
    close(fds[0]);
    close(fds[1]);
}

TEST(Media, ShutdownStopsAFifoPathThatNeverDelivers) {
    std::string fifo = testing::TempDir() + "kavori_fifo_" + std::to_string(getpid());
    unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    {
        TestPlayer p;
        kvmp_set_data_source(p.mp(), fifo.c_str());
        kvmp_prepare_async(p.mp());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        // Nobody writes to the FIFO: the destructor's shutdown must still come back.
    }
    unlink(fifo.c_str());
}

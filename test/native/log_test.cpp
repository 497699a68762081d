// The module log call, its level mapping and cut, and the FFmpeg relay, read back from the
// hilog stand-in's file.
#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "util/ffmpeg_log.h"
#include "util/ohos_log.h"

namespace {

// The hilog stand-in reads its target once, so it is set before any test runs.
const std::string &LogPath() {
    static const std::string path = [] {
        std::string p = testing::TempDir() + "kavori_log_test_" + std::to_string(getpid()) + ".log";
        std::remove(p.c_str());
        setenv("KAVORI_HILOG_FILE", p.c_str(), 1);
        return p;
    }();
    return path;
}
const bool kLogPathSet = !LogPath().empty();
// Made after the path, so ended before it: the file goes when the process ends.
struct LogFileRemover {
    ~LogFileRemover() { std::remove(LogPath().c_str()); }
} logFileRemover;

std::vector<std::string> LogLines() {
    std::ifstream in(LogPath());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Lines written while running fn.
template <typename Fn>
std::vector<std::string> LinesOf(Fn fn) {
    size_t before = LogLines().size();
    fn();
    std::vector<std::string> lines = LogLines();
    return std::vector<std::string>(lines.begin() + static_cast<long>(before), lines.end());
}

class LogTest : public testing::Test {
  protected:
    void SetUp() override { ohos_log_switch_on(); }
};

TEST(LogSwitch, SilentUntilSwitchedOn) {
    ASSERT_FALSE(ohos_log_is_on()) << "this test must run before any other switches logging on";
    auto lines = LinesOf([] {
        LOGI("napi-->hidden %d", 1);
        LOGE("napi_proxy-->hidden mp NULL");
        __ohos_log_print_debug(3, KAVORI_LOG_TAG, "f.cpp", 1, "hidden");
    });
    EXPECT_TRUE(lines.empty());
}

TEST_F(LogTest, LevelsMapToHilogLevels) {
    struct Case {
        int level;
        const char *expected;
    } cases[] = {{0, "I"}, {1, "D"}, {2, "W"}, {3, "E"}, {4, "F"}, {7, "I"}, {-1, "I"}, {5, "I"}};
    for (const Case &c : cases) {
        auto lines =
            LinesOf([&] { __ohos_log_print(c.level, "KavoriPlayer", "level %d", c.level); });
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], std::string(c.expected) + " A00000/KavoriPlayer: level " +
                                std::to_string(c.level));
    }
}

TEST_F(LogTest, LongMessageIsCutTo4095Bytes) {
    std::string message(5000, 'x');
    auto lines = LinesOf([&] { LOGI("%s", message.c_str()); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "I A00000/KavoriPlayer: " + std::string(4095, 'x'));
}

TEST_F(LogTest, PrivacyLookalikesAndLineBreaksStayOneLine) {
    auto lines = LinesOf([] { LOGI("%s", "%{private}d a\\b\nc\rd"); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "I A00000/KavoriPlayer: %{private}d a\\\\b\\nc\\rd");
}

TEST_F(LogTest, DebugVariantPrefixesSourcePosition) {
    auto lines = LinesOf([] { __ohos_log_print_debug(3, KAVORI_LOG_TAG, "a.cpp", 42, "x=%d", 5); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "E A00000/KavoriPlayer: a.cpp:42 x=5");
}

// FFmpeg contexts as FFmpeg lays them out: the class pointer first.
struct Parent {
    const AVClass *cls;
};
struct Context {
    const AVClass *cls;
    Parent *parent;
};
AVClass MakeClass(const char *name, int parentOffset) {
    AVClass c{};
    c.class_name = name;
    c.item_name = av_default_item_name;
    c.version = LIBAVUTIL_VERSION_INT;
    c.parent_log_context_offset = parentOffset;
    return c;
}
const AVClass kParentClass = MakeClass("demuxer", 0);
const AVClass kMovClass = MakeClass("mov", offsetof(Context, parent));

std::string Address(const void *p) {
    char buffer[32];
    snprintf(buffer, sizeof(buffer), "%p", p);
    return buffer;
}

class FfmpegRelayTest : public LogTest {
  protected:
    void SetUp() override {
        LogTest::SetUp();
        open_custom_ffmpeg_log_print();
        av_log(nullptr, AV_LOG_INFO, "\n");  // start every test at a line start
    }
    void TearDown() override { av_log_set_callback(av_log_default_callback); }
};

TEST_F(FfmpegRelayTest, NullContextGivesMessageOnly) {
    auto lines = LinesOf([] { av_log(nullptr, AV_LOG_INFO, "abc\n"); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "I A00000/KavoriPlayer: abc\\n");
}

TEST_F(FfmpegRelayTest, ContextAndParentPrefixes) {
    Parent parent{&kParentClass};
    Context alone{&kMovClass, nullptr};
    Context child{&kMovClass, &parent};
    auto lines = LinesOf([&] {
        av_log(&alone, AV_LOG_ERROR, "x\n");
        av_log(&child, AV_LOG_DEBUG, "y %d\n", 7);
    });
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "I A00000/KavoriPlayer: [mov @ " + Address(&alone) + "] x\\n");
    EXPECT_EQ(lines[1], "I A00000/KavoriPlayer: [demuxer @ " + Address(&parent) + "] [mov @ " +
                            Address(&child) + "] y 7\\n");
}

TEST_F(FfmpegRelayTest, PiecesWithoutLineEndContinueWithoutPrefixes) {
    Context a{&kMovClass, nullptr};
    Context b{&kMovClass, nullptr};
    auto lines = LinesOf([&] {
        av_log(&a, AV_LOG_INFO, "part one, ");
        av_log(&b, AV_LOG_INFO, "part two\r");
        av_log(&b, AV_LOG_INFO, "next\n");
    });
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "I A00000/KavoriPlayer: [mov @ " + Address(&a) + "] part one, ");
    EXPECT_EQ(lines[1], "I A00000/KavoriPlayer: part two\\r");
    EXPECT_EQ(lines[2], "I A00000/KavoriPlayer: [mov @ " + Address(&b) + "] next\\n");
}

// Beyond the print buffer's inline storage a message is still relayed whole, and its line end
// still counts; beyond 65536 bytes it is cut and ends no line. LeakSanitizer sees the heap.
TEST_F(FfmpegRelayTest, LongMessagesAreWholeUpToTheLogCutAndGiveTheirHeapBack) {
    const std::string head = "I A00000/KavoriPlayer: ";
    Context context{&kMovClass, nullptr};
    const std::string prefixed = head + "[mov @ " + Address(&context) + "] next\\n";
    struct Case {
        size_t size;
        std::string first, second;
    } cases[] = {
        {2000, head + std::string(2000, 'z') + "\\n", prefixed},
        {70000, head + std::string(4095, 'z'), head + "next\\n"},
    };
    for (const Case &c : cases) {
        std::string big(c.size, 'z');
        auto lines = LinesOf([&] {
            av_log(nullptr, AV_LOG_WARNING, "%s\n", big.c_str());
            av_log(&context, AV_LOG_INFO, "next\n");
        });
        ASSERT_EQ(lines.size(), 2u) << c.size;
        EXPECT_EQ(lines[0], c.first) << c.size;
        EXPECT_EQ(lines[1], c.second) << c.size;
    }
}

}  // namespace

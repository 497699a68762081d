#include "util/event_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct SeiCase {
    const char *name;
    std::string payload;
    int32_t length;
    const char *expected;
};

TEST(CleanSeiText, FoldsBreaksAndDropsNonPrintables) {
    const SeiCase cases[] = {
        {"crlf pair is one break", "ab\r\ncd", 6, "ab cd"},
        {"leading line feed", "\nab", 3, " ab"},
        {"leading crlf", "\r\nab", 4, " ab"},
        {"space then break", "a \nb", 4, "a b"},
        {"two line feeds", "a\n\nb", 4, "a b"},
        {"lone carriage return", "a\rb", 3, "a b"},
        {"lf cr is two breaks folded", "a\n\rb", 4, "a b"},
        {"spaces copied one for one", "a  b", 4, "a  b"},
        {"tab dropped", "a\tb", 3, "ab"},
        {"del and high bytes dropped", "a\x7f\xc3\xa9z", 5, "az"},
        {"nul stops reading", std::string("abc\0def", 7), 7, "abc"},
        {"length cuts the payload", "abcdef", 3, "abc"},
        {"cr at the end without its lf", "ab\r\nc\r", 6, "ab c "},
        {"zero length", "abc", 0, ""},
        {"negative length", "abc", -4, ""},
        {"only breaks", "\n\r\n\r", 4, " "},
    };
    for (const auto &c : cases) {
        EventText text = CleanSeiText(c.payload.data(), c.length);
        ASSERT_NE(text, nullptr) << c.name;
        EXPECT_STREQ(text.get(), c.expected) << c.name;
    }
}

TEST(CleanSeiText, NullPayloadGivesEmptyText) {
    for (int32_t length : {0, 5, -1}) {
        EventText text = CleanSeiText(nullptr, length);
        ASSERT_NE(text, nullptr);
        EXPECT_STREQ(text.get(), "");
    }
}

struct Utf8Case {
    const char *name;
    const char *input;
    const char *expected;
};

#define FFFD "\xEF\xBF\xBD"

TEST(ReencodeUtf8, KeepsWellFormedTextAndReplacesMaximalSubparts) {
    const Utf8Case cases[] = {
        {"ascii", "hello", "hello"},
        {"empty", "", ""},
        {"two to four bytes", "h\xC3\xA9llo \xE2\x82\xAC \xF0\x9F\x8E\xB5",
         "h\xC3\xA9llo \xE2\x82\xAC \xF0\x9F\x8E\xB5"},
        {"edges of the ranges",
         "\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF",
         "\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF"},
        {"byte order mark kept", "\xEF\xBB\xBFx", "\xEF\xBB\xBFx"},
        {"lone continuation", "a\x80z", "a" FFFD "z"},
        {"two continuations are two subparts", "\x80\xBF", FFFD FFFD},
        {"overlong two bytes", "\xC0\xAF", FFFD FFFD},
        {"overlong three bytes", "\xE0\x80\xAF", FFFD FFFD FFFD},
        {"surrogate", "\xED\xA0\x80", FFFD FFFD FFFD},
        {"above U+10FFFF", "\xF4\x90\x80\x80", FFFD FFFD FFFD FFFD},
        {"F5 and FF", "\xF5\xFF", FFFD FFFD},
        {"truncated three bytes", "\xE2\x82z", FFFD "z"},
        {"truncated four bytes at end", "a\xF0\x9F\x8E", "a" FFFD},
        {"lead then ascii",
         "\xC3"
         "A",
         FFFD "A"},
        {"lead then lead", "\xE2\xE2\x82\xAC", FFFD "\xE2\x82\xAC"},
        {"Unicode table 3-8 sample", "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
         "a" FFFD FFFD FFFD "b" FFFD "c" FFFD FFFD "d"},
    };
    for (const auto &c : cases) {
        EventText text = ReencodeUtf8(c.input);
        ASSERT_NE(text, nullptr) << c.name;
        EXPECT_STREQ(text.get(), c.expected) << c.name;
    }
}

TEST(EventText, NullTextsGiveNull) {
    EXPECT_EQ(ReencodeUtf8(nullptr), nullptr);
    EXPECT_EQ(CopyText(nullptr), nullptr);
}

TEST(CopyText, CopiesUpToTheNul) {
    const char source[] = "ab\0cd";
    EventText copy = CopyText(source);
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy.get(), "ab");
    EXPECT_NE(copy.get(), source);
}

}  // namespace

// "script:" sources: the grammar, and replay through a player.
#include <gtest/gtest.h>

#include "engine_harness.h"
#include "script_source.h"

using kavori::ScriptItem;
using namespace kavori_test;

namespace {

struct ParseCase {
    const char *items;
    std::vector<ScriptItem> expected;
};

ScriptItem item(int what, int p1 = 0, int p2 = 0, uint64_t count = 1) {
    ScriptItem i;
    i.what = what;
    i.param1 = p1;
    i.param2 = p2;
    i.count = count;
    return i;
}

ScriptItem with_payload(ScriptItem i, std::string payload) {
    i.has_payload = true;
    i.payload = std::move(payload);
    return i;
}

}  // namespace

TEST(Script, ParsesItems) {
    const ParseCase cases[] = {
        {"200;422,0,6,hex:61620d0a6364;800,0,0,str:h\xc3\xa9llo;300",
         {item(200), with_payload(item(422, 0, 6), "ab\r\ncd"),
          with_payload(item(800), "h\xc3\xa9llo"), item(300)}},
        {"502,1,2*1000000", {item(502, 1, 2, 1000000)}},
        {"100,-5", {item(100, -5)}},
        {"1,,7", {item(1, 0, 7)}},
        {"428,1,2,null;428,1,2,str:", {item(428, 1, 2), with_payload(item(428, 1, 2), "")}},
        {"422,0,3,hex:610062", {with_payload(item(422, 0, 3), std::string("a\0b", 3))}},
        {"800,0,0,str:a,b*2", {with_payload(item(800, 0, 0, 2), "a,b")}},
        {";;300;", {item(300)}},
        {"", {}},
        {"7*0", {item(7, 0, 0, 0)}},
    };
    for (const ParseCase &c : cases) {
        std::vector<ScriptItem> got;
        ASSERT_TRUE(kavori::parse_script(c.items, &got)) << c.items;
        ASSERT_EQ(got.size(), c.expected.size()) << c.items;
        for (size_t i = 0; i < got.size(); i++) {
            EXPECT_EQ(got[i].what, c.expected[i].what) << c.items;
            EXPECT_EQ(got[i].param1, c.expected[i].param1) << c.items;
            EXPECT_EQ(got[i].param2, c.expected[i].param2) << c.items;
            EXPECT_EQ(got[i].has_payload, c.expected[i].has_payload) << c.items;
            EXPECT_EQ(got[i].payload, c.expected[i].payload) << c.items;
            EXPECT_EQ(got[i].count, c.expected[i].count) << c.items;
        }
    }
}

TEST(Script, RefusesMalformedItems) {
    const char *bad[] = {"abc",          "200,x",       "1,2,3,hex:6",      "1,2,3,hex:zz",
                         "1,2,3,bytes:", "99999999999", "1*99999999999999", "1,2,3,4",
                         "2 00",         "1*30000000"};
    for (const char *items : bad) {
        std::vector<ScriptItem> got;
        EXPECT_FALSE(kavori::parse_script(items, &got)) << items;
    }
}

TEST(Script, ReplaysItemsInOrderAtPrepare) {
    TestPlayer p;
    kvmp_set_data_source(p.mp(),
                         "script:200;422,0,6,hex:61620d0a6364;800,0,0,str:h\xc3\xa9llo;1,2*3;300");
    EXPECT_EQ(kvmp_get_meta_l(p.mp()), nullptr);
    kvmp_prepare_async(p.mp());
    ASSERT_TRUE(p.inbox().wait_for_what(300));
    std::vector<Received> got = p.inbox().messages();
    ASSERT_EQ(got.size(), 7u);
    EXPECT_EQ(got[0].what, 200);
    EXPECT_FALSE(got[0].has_obj);
    EXPECT_EQ(got[1].what, 422);
    EXPECT_EQ(got[1].param2, 6);
    EXPECT_EQ(got[1].payload, "ab\r\ncd");
    EXPECT_EQ(got[2].payload, "h\xc3\xa9llo");
    for (int i = 3; i < 6; i++) {
        EXPECT_EQ(got[i].what, 1);
        EXPECT_EQ(got[i].param1, 2);
        EXPECT_EQ(got[i].param2, 0);
    }
    EXPECT_EQ(got[6].what, 300);
    EXPECT_EQ(kvmp_get_meta_l(p.mp()), nullptr);
    EXPECT_EQ(kvmp_get_duration(p.mp()), 0);
}

TEST(Script, LongRepeatIsDeliveredWhole) {
    TestPlayer p;
    kvmp_set_data_source(p.mp(), "script:502,1,2*20000;300");
    kvmp_prepare_async(p.mp());
    // Looks at the last message only: a scan per wake-up would be quadratic.
    ASSERT_TRUE(p.inbox().wait(
        [](const std::vector<Received> &ms) { return !ms.empty() && ms.back().what == 300; }));
    EXPECT_EQ(p.inbox().messages().size(), 20001u);
}

TEST(Script, MalformedScriptPostsAnError) {
    TestPlayer p;
    kvmp_set_data_source(p.mp(), "script:200;oops");
    EXPECT_LT(kvmp_prepare_async(p.mp()), 0);
    ASSERT_TRUE(p.inbox().wait_for_what(KVP_MSG_ERROR));
    EXPECT_EQ(p.inbox().whats(), std::vector<int>{KVP_MSG_ERROR});  // nothing half-queued
}

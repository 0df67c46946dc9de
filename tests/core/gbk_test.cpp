#include "core/gbk.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace morvale {
namespace {

std::string U8(const char8_t* s) { return reinterpret_cast<const char*>(s); }

TEST(GbkToUtf8Test, ConvertsAndReplacesInvalidBytes) {
    struct Case {
        const char* name;
        std::string gbk;
        std::string utf8;
    } cases[] = {
        {"ascii", "abc", "abc"},
        {"chinese", "\xD6\xD0\xCE\xC4", U8(u8"中文")},
        {"literal_is_gbk", "发现升级包", U8(u8"发现升级包")},
        {"euro", "\x80", U8(u8"€")},
        {"invalid_lead",
         "a\xFF"
         "b",
         U8(u8"a\uFFFDb")},
        {"truncated_at_end", "a\xD6", U8(u8"a\uFFFD")},
        {"bad_trail_keeps_ascii", "\xD6 a", U8(u8"\uFFFD a")},
        {"nul_kept", std::string("a\0b", 3), std::string("a\0b", 3)},
        {"empty", "", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(GbkToUtf8(c.gbk), c.utf8) << c.name;
}

TEST(Utf8ToGbkTest, FallbackForUnencodable) {
    struct Case {
        const char* name;
        std::string utf8;
        std::string question;
        std::string charRef;
    } cases[] = {
        {"chinese", U8(u8"中文"), "\xD6\xD0\xCE\xC4", "\xD6\xD0\xCE\xC4"},
        {"emoji", U8(u8"a😀b"), "a?b", "a&#128512;b"},
        {"two_unencodable", U8(u8"😀😀"), "??", "&#128512;&#128512;"},
        {"invalid_utf8",
         "a\xFF"
         "b",
         "a?b", "a&#65533;b"},
        {"truncated_utf8", "a\xE4\xB8", "a??", "a&#65533;&#65533;"},
        {"overlong_slash", "\xC0\xAF", "??", "&#65533;&#65533;"},
        {"ascii", "plain <b>", "plain <b>", "plain <b>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utf8ToGbk(c.utf8, GbkFallback::Question), c.question) << c.name;
        EXPECT_EQ(Utf8ToGbk(c.utf8, GbkFallback::CharRef), c.charRef) << c.name;
    }
}

TEST(GbkTest, RoundTripsEveryDoubleByteCharacterAcrossThreads) {
    // Every valid GBK pair survives GBK -> UTF-8 -> GBK; four threads at once share nothing.
    std::string all;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail == 0x7F) continue;
            const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
            if (GbkToUtf8(pair).find("\xEF\xBF\xBD") == std::string::npos) all += pair;
        }
    }
    ASSERT_GT(all.size(), 2 * 21000u);
    std::vector<std::thread> threads;
    std::vector<int> ok(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5; ++i) ok[t] += Utf8ToGbk(GbkToUtf8(all), GbkFallback::Question) == all;
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < 4; ++t) EXPECT_EQ(ok[t], 5) << t;
}

}  // namespace
}  // namespace morvale

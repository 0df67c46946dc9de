#include "core/text_utils.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <limits>

#include "temp_dir.h"

namespace morvale {
namespace {

struct TextCase {
    const char* name;
    std::string in;
    std::string out;
};

TEST(Base64DecodeTest, DecodesGroupsPaddingAndSkipsForeignBytes) {
    const TextCase cases[] = {
        {"full_groups", "TWFuTWFu", "ManMan"},
        {"one_pad", "TWE=", "Ma"},
        {"two_pad", "TQ==", "M"},
        {"unpadded_tail_of_three", "TWE", "Ma"},
        {"lone_trailing_index_yields_nothing", "TWFuT", "Man"},
        {"line_breaks_and_blanks", "TW\r\nFu T\tWFu", "ManMan"},
        {"empty", "", ""},
        {"high_bytes", "/+8A", std::string("\xFF\xEF\x00", 3)},
        {"garbage_only", "!!==**", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(Base64Decode(c.in), c.out) << c.name;
}

TEST(UrlEncodeTest, EscapesExactlyTheListedBytes) {
    const TextCase cases[] = {
        {"safe_punctuation", "a/b:c?d,;'()!~.-_$@", "a/b:c?d,;'()!~.-_$@"},
        {"blank", "a b", "a%20b"},
        {"assignment", "x=1&y", "x%3D1%26y"},
        {"gbk_byte", "\xB0", "%B0"},
        {"gbk_char", "\xD6\xD0", "%D6%D0"},
        {"specials", "*#%<>[]+\"", "%2A%23%25%3C%3E%5B%5D%2B%22"},
        {"controls", std::string("\x00\x1F\t", 3), "%00%1F%09"},
        {"del_copied", "\x7F", "\x7F"},
        {"letters_digits", "AZaz09", "AZaz09"},
    };
    for (const auto& c : cases) EXPECT_EQ(UrlEncode(c.in), c.out) << c.name;
}

TEST(UrlEncodeTest, EveryByteRoundTripsThroughUrlDecode) {
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    const std::string enc = UrlEncode(all);
    EXPECT_EQ(enc.find_first_of(" +=&"), std::string::npos);
    EXPECT_EQ(UrlDecode(enc), all);
}

TEST(UrlDecodeTest, DecodesEscapesAndPlus) {
    const TextCase cases[] = {
        {"plus_and_upper", "a+b%2Fc", "a b/c"}, {"lower_hex", "%2f", "/"},
        {"gbk", "%D6%d0", "\xD6\xD0"},          {"non_hex_escape_copied", "%zz1", "%zz1"},
        {"percent_then_one_hex", "%4g", "%4g"}, {"nul_byte", "%00", std::string(1, '\0')},
    };
    for (const auto& c : cases) EXPECT_EQ(UrlDecode(c.in), c.out) << c.name;
}

TEST(UrlDecodeTest, TruncatedEscapeFails) {
    for (const char* in : {"%", "%2", "abc%", "abc%4"}) EXPECT_FALSE(UrlDecode(in).has_value()) << in;
}

TEST(XmlEscapeTest, TextAndAttributeSets) {
    EXPECT_EQ(XmlEscapeText("<a href='x'>&\"</a>"), "&lt;a href='x'&gt;&amp;\"&lt;/a&gt;");
    EXPECT_EQ(XmlEscapeAttr("<a href='x'>&\"</a>"), "&lt;a href=&apos;x&apos;&gt;&amp;&quot;&lt;/a&gt;");
    EXPECT_EQ(XmlEscapeText("\xD6\xD0"), "\xD6\xD0");
}

TEST(SplitTest, KeepsEmptyPieces) {
    struct Case {
        const char* name;
        std::string text, delim;
        std::vector<std::string> pieces;
    } cases[] = {
        {"bars", "a|b||c|", "|", {"a", "b", "", "c", ""}},
        {"empty_text", "", "|", {}},
        {"no_delimiter", "abc", "|", {"abc"}},
        {"only_delimiter", "|", "|", {"", ""}},
        {"two_byte_delimiter", "a||b|c||", "||", {"a", "b|c", ""}},
        {"overlapping_delimiter", "a|||b", "||", {"a", "|b"}},
        {"control_byte", "1\x06x\x06", "\x06", {"1", "x", ""}},
        {"empty_delimiter", "abc", "", {"abc"}},
    };
    for (const auto& c : cases) EXPECT_EQ(Split(c.text, c.delim), c.pieces) << c.name;
}

TEST(TrimTest, StripsBlanksTabsAndLineEnds) {
    const TextCase cases[] = {
        {"both_ends", " \t\r\na b\r\n", "a b"},
        {"only_space", " \r\n\t ", ""},
        {"inner_kept", "a \t b", "a \t b"},
        {"other_controls_kept",
         "\x0B"
         "a\x0C",
         "\x0B"
         "a\x0C"},
    };
    for (const auto& c : cases) EXPECT_EQ(Trim(c.in), c.out) << c.name;
}

TEST(EqualsNoCaseTest, FoldsAsciiLettersOnly) {
    EXPECT_TRUE(EqualsNoCase("HKcu", "hkCU"));
    EXPECT_FALSE(EqualsNoCase("abc", "abcd"));
    EXPECT_FALSE(EqualsNoCase("[", "{"));  // 0x5B vs 0x7B: not letters
    EXPECT_FALSE(EqualsNoCase("\xC1", "\xE1"));
    EXPECT_TRUE(EqualsNoCase("", ""));
}

TEST(ReplaceAllTest, NeverRescansReplacement) {
    EXPECT_EQ(ReplaceAll("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(ReplaceAll("abab", "ab", "b"), "bb");
    EXPECT_EQ(ReplaceAll("c:\\x\\y", "\\", "\\\\"), "c:\\\\x\\\\y");
    EXPECT_EQ(ReplaceAll("xyz", "", "q"), "xyz");
    EXPECT_EQ(ReplaceAll("xyz", "w", "q"), "xyz");
}

TEST(DateTimeTest, UnixToLocalIsChinaTime) {
    EXPECT_EQ(DateTimeToText(UnixToLocal(0)), "1970-01-01 08:00:00");
    EXPECT_DOUBLE_EQ(UnixToLocal(0), 25569 + 1.0 / 3);
    EXPECT_EQ(DateTimeToText(UnixToLocal(1700000000)), "2023-11-15 06:13:20");
    EXPECT_EQ(DateTimeToText(UnixToLocal(-28800)), "1970-01-01");
    // 864e15 s are exactly 1e13 days; the eight hours add a third of a day.
    EXPECT_DOUBLE_EQ(UnixToLocal(864000000000000000), 1e13 + 25569 + 1.0 / 3);
    EXPECT_GT(UnixToLocal(std::numeric_limits<std::int64_t>::max()), UnixToLocal(0));
    EXPECT_LT(UnixToLocal(std::numeric_limits<std::int64_t>::min()), UnixToLocal(0));
}

TEST(DateTimeTest, TextFormsAndRoundTrip) {
    struct Case {
        const char* name;
        DateTime value;
        const char* text;
    } cases[] = {
        {"whole_day", 45000, "2023-03-15"},
        {"day_and_time", 45000.5, "2023-03-15 12:00:00"},
        {"time_only", 0.75, "18:00:00"},
        {"zero", 0, "00:00:00"},
        {"leap_day", 44986 + 0.25, "2023-03-01 06:00:00"},
        {"leap_year_feb29", 43890, "2020-02-29"},
        {"day_one", 1, "1899-12-31"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DateTimeToText(c.value), c.text) << c.name;
        const auto back = TextToDateTime(c.text);
        ASSERT_TRUE(back.has_value()) << c.name;
        EXPECT_NEAR(*back, c.value, 0.5 / 86400) << c.name;
    }
    for (const char* bad : {"", "2023-13-01", "24:00:00", "2023-03-15T12:00:00", "12:00", "2023-02-29",
                            "1900-02-29", "2023-04-31", "2023-02-31 10:00:00", "0000-01-01"}) {
        EXPECT_FALSE(TextToDateTime(bad).has_value()) << bad;
    }
}

TEST(DateTimeTest, CalendarEndsAndValuesBeyondThem) {
    struct Case {
        const char* name;
        DateTime value;
        const char* text;
    } cases[] = {
        {"last_day", 2958465, "9999-12-31"},
        {"last_day_evening", 2958465.75, "9999-12-31 18:00:00"},
        {"after_last_day", 2958466, ""},
        {"first_day_is_below_one_so_time_only", -693593.5, "12:00:00"},
        {"before_first_day", -693594, ""},
        {"far_future_server_time", UnixToLocal(std::numeric_limits<std::int64_t>::max()), ""},
        {"far_past_server_time", UnixToLocal(std::numeric_limits<std::int64_t>::min()), ""},
        {"huge", 1e300, ""},
        {"infinite", std::numeric_limits<double>::infinity(), ""},
        {"not_a_number", std::numeric_limits<double>::quiet_NaN(), ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DateTimeToText(c.value), c.text) << c.name;
        EXPECT_EQ(FormatDateTime("yyyy", c.value).empty(), *c.text == '\0') << c.name;
    }
    EXPECT_EQ(DecodeDateTime(1e300).year, 9999);
    EXPECT_EQ(DecodeDateTime(-1e300).year, 1);
}

TEST(DateTimeTest, FormatTokensAndRoundingToTheMillisecond) {
    // One millisecond short of the next second must not print as the second before.
    const DateTime v = EncodeDateTime({2024, 2, 29, 23, 59, 58, 999});
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", v), "2024-02-29 23:59:58.999");
    EXPECT_EQ(FormatDateTime("ddhhnnsszzz", v), "29235958999");
    EXPECT_EQ(FormatDateTime("hh:nn", UnixToLocal(59)), "08:00");
    EXPECT_EQ(DateTimeToText(UnixToLocal(1700000000 + 1)), "2023-11-15 06:13:21");
}

TEST(FormatDurationTest, MinutesBelowAnHourThenHours) {
    const std::pair<unsigned, const char*> cases[] = {
        {0, "0:00"},       {59, "0:59"},      {125, "2:05"},         {3599, "59:59"},
        {3600, "1:00:00"}, {3725, "1:02:05"}, {360000, "100:00:00"}, {4294967295u, "1193046:28:15"},
    };
    for (const auto& [s, text] : cases) EXPECT_EQ(FormatDuration(s), text) << s;
}

TEST(TempPathTest, PrivateDirectoryUnderTmpdir) {
    test::TempDir base;
    test::ScopedEnv env("TMPDIR", base.path());
    const std::string dir = TempPath();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir, base.path() + "/morvale-" + std::to_string(getuid()) + "/");
    struct stat st {};
    ASSERT_EQ(lstat(dir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(TempPath(), dir);  // existing directory reused

    chmod(dir.c_str(), 0755);  // loosened permissions are tightened again
    EXPECT_EQ(TempPath(), dir);
    ASSERT_EQ(lstat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(TempPathTest, RefusesPlantedLinkOrFile) {
    test::TempDir base;
    test::ScopedEnv env("TMPDIR", base.path());
    const std::string name = base.path() + "/morvale-" + std::to_string(getuid());
    const std::string target = base / "elsewhere";
    ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
    ASSERT_EQ(symlink(target.c_str(), name.c_str()), 0);
    EXPECT_EQ(TempPath(), "");
    ASSERT_EQ(unlink(name.c_str()), 0);
    test::WriteFile(name, "x");
    EXPECT_EQ(TempPath(), "");
}

TEST(FileVersionTextTest, RunningProgramOnly) {
    EXPECT_EQ(FileVersionText("/proc/self/exe"), MORVALE_VERSION_TEXT);
    EXPECT_EQ(FileVersionText(std::filesystem::read_symlink("/proc/self/exe").string()),
              MORVALE_VERSION_TEXT);
    EXPECT_EQ(FileVersionText("/bin/sh"), "");
    EXPECT_EQ(FileVersionText("/no/such/file"), "");
    EXPECT_EQ(FileVersionText(""), "");
}

TEST(IsWindowsNT6Test, FalseHere) { EXPECT_FALSE(IsWindowsNT6()); }

}  // namespace
}  // namespace morvale

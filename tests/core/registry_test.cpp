#include <gtest/gtest.h>

#include "core/app_config.h"
#include "core/text_utils.h"
#include "temp_dir.h"

namespace morvale {
namespace {

TEST(ParseRegPathTest, RootSubkeyAndValueName) {
    struct Case {
        const char* name;
        const char* path;
        std::optional<RegPath> want;
    } cases[] = {
        {"run_key", "HKCU\\Software\\Run\\MyApp", RegPath{"HKCU", "Software\\Run", "MyApp"}},
        {"root_any_case", "hklm\\a\\b", RegPath{"hklm", "a", "b"}},
        {"default_value", "HKU\\a\\b\\", RegPath{"HKU", "a\\b", ""}},
        {"hkcr", "HKCR\\x\\", RegPath{"HKCR", "x", ""}},
        {"unknown_root", "HKXX\\a\\b", std::nullopt},
        {"one_backslash", "HKCU\\a", std::nullopt},
        {"no_backslash", "HKCU", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto got = ParseRegPath(c.path);
        ASSERT_EQ(got.has_value(), c.want.has_value()) << c.name;
        if (!got) continue;
        EXPECT_EQ(got->root, c.want->root) << c.name;
        EXPECT_EQ(got->subkey, c.want->subkey) << c.name;
        EXPECT_EQ(got->valueName, c.want->valueName) << c.name;
    }
}

class AutostartTest : public ::testing::Test {
  protected:
    test::TempDir dir_;
    test::ScopedEnv xdg_{"XDG_CONFIG_HOME", dir_.path()};
    std::string entry_ = dir_ / "autostart/morvale.desktop";
    std::string key_ = RunKeyPath() + AppTitle();
};

TEST_F(AutostartTest, RunValueIsTheAutostartEntry) {
    EXPECT_EQ(RegReadValue(key_), std::nullopt);
    ASSERT_TRUE(RegWriteValue(key_, std::string_view("/opt/morvale/morvale /hide")));
    const std::string text = test::ReadFile(entry_);
    EXPECT_NE(text.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(text.find("\nExec=/opt/morvale/morvale /hide\n"), std::string::npos);
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(text.find(reinterpret_cast<const char*>(u8"\nName=MorVale在线客服\n")), std::string::npos);
    EXPECT_EQ(RegReadValue(key_), "/opt/morvale/morvale /hide");

    // The key path compares like the registry: case-insensitively.
    std::string lower = key_;
    for (size_t i = 0; i < RunKeyPath().size(); ++i) lower[i] = static_cast<char>(std::tolower(lower[i]));
    EXPECT_EQ(RegReadValue(lower), "/opt/morvale/morvale /hide");

    ASSERT_TRUE(RegWriteValue(key_, std::nullopt));
    EXPECT_EQ(RegReadValue(key_), std::nullopt);
    EXPECT_TRUE(RegWriteValue(key_, std::nullopt));  // already absent
}

TEST_F(AutostartTest, AwkwardPathsRoundTripAndQuote) {
    const std::string values[] = {
        "/home/o p/My App/morvale /hide",
        "/a\"b/$HOME`x`\\y%z /hide",
        "/x/morvale",
        "/opt/a\tb /hide",
    };
    for (const auto& v : values) {
        ASSERT_TRUE(RegWriteValue(key_, std::string_view(v))) << v;
        EXPECT_EQ(RegReadValue(key_), v) << v;
    }
    ASSERT_TRUE(RegWriteValue(key_, std::string_view("/home/o p/morvale /hide")));
    EXPECT_NE(test::ReadFile(entry_).find("\nExec=\"/home/o p/morvale\" /hide\n"), std::string::npos);
}

TEST_F(AutostartTest, ForeignEntryAndHiddenEntry) {
    std::filesystem::create_directories(dir_ / "autostart");
    test::WriteFile(entry_,
                    "# made by hand\r\n[Desktop Entry]\r\nName=x\r\nExec = \"/p q/m\"  /hide\r\n"
                    "[Desktop Action y]\r\nExec=other\r\n");
    EXPECT_EQ(RegReadValue(key_), "/p q/m /hide");
    test::WriteFile(entry_, "[Desktop Entry]\nExec=/m /hide\nHidden=true\n");
    EXPECT_EQ(RegReadValue(key_), std::nullopt);
}

TEST_F(AutostartTest, OtherKeysAreNotBacked) {
    EXPECT_EQ(RegReadValue("HKCU\\Software\\Other\\" + AppTitle()), std::nullopt);
    EXPECT_FALSE(RegWriteValue("HKCU\\Software\\Other\\" + AppTitle(), std::string_view("v")));
    EXPECT_FALSE(RegWriteValue(RunKeyPath() + "SomeoneElse", std::string_view("v")));
    EXPECT_FALSE(RegWriteValue("HKXX\\a\\b", std::string_view("v")));
    EXPECT_EQ(RegReadValue("HKXX\\a\\b"), std::nullopt);
}

TEST_F(AutostartTest, HomeFallbackWhenXdgUnset) {
    test::TempDir home;
    test::ScopedEnv h("HOME", home.path());
    unsetenv("XDG_CONFIG_HOME");
    ASSERT_TRUE(RegWriteValue(key_, std::string_view("/m /hide")));
    EXPECT_NE(test::ReadFile(home / ".config/autostart/morvale.desktop").find("\nExec=/m /hide\n"),
              std::string::npos);
}

}  // namespace
}  // namespace morvale

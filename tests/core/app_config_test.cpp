#include "core/app_config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/file_config.h"
#include "core/text_utils.h"
#include "temp_dir.h"

namespace morvale {
namespace {

TEST(AppNamesTest, FixedTexts) {
    EXPECT_EQ(AppName(), "morvale");
    EXPECT_EQ(AppTitle(), "MorVale在线客服");  // the literal is GBK, as is the title
    EXPECT_EQ(RunKeyPath(), "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\");
    EXPECT_FALSE(HomePageUrl().empty());
}

TEST(ChangeFileExtTest, ReplacesFromLastDotOfTheName) {
    EXPECT_EQ(ChangeFileExt("/a/morvale.exe", ".ini"), "/a/morvale.ini");
    EXPECT_EQ(ChangeFileExt("/a/morvale", ".cdd"), "/a/morvale.cdd");
    EXPECT_EQ(ChangeFileExt("/a.b/morvale", ".ini"), "/a.b/morvale.ini");
    EXPECT_EQ(ChangeFileExt("/a/x.y.z", ".up.ini"), "/a/x.y.up.ini");
    EXPECT_EQ(ChangeFileExt("/a/app.cdd", "_copy.cdd"), "/a/app_copy.cdd");
}

TEST(VersionTest, BuildVersionOfTheRunningProgram) {
    EXPECT_EQ(VersionText(), MORVALE_VERSION_TEXT);
    const auto parts = Split(MORVALE_VERSION_TEXT, ".");
    ASSERT_EQ(parts.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(VersionNumber(i), std::stoi(parts[static_cast<size_t>(i)])) << i;
    EXPECT_EQ(VersionNumber(4), 0);
    EXPECT_EQ(VersionNumber(-1), 0);
}

TEST(FilePathsTest, ExecutableDirectoryAndName) {
    const std::string exe = ExePath();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(exe.substr(0, exe.rfind('/')), ExeDir());
    struct stat st {};
    EXPECT_EQ(stat(exe.c_str(), &st), 0);
}

TEST(FilePathsTest, MorvaleHomeHoldsAllFiles) {
    test::TempDir dir;
    const std::string home = dir / "nested/home";
    test::ScopedEnv env("MORVALE_HOME", home);
    const std::string name = ExePath().substr(ExePath().rfind('/') + 1);
    EXPECT_EQ(ConfigPath(), home + "/" + ChangeFileExt(name, ".ini"));
    EXPECT_EQ(LogFilePath(), home + "/" + ChangeFileExt(name, ".cdd"));
    EXPECT_EQ(UpdateIniPath(), home + "/" + ChangeFileExt(name, ".up.ini"));
    struct stat st {};
    ASSERT_EQ(stat(home.c_str(), &st), 0);  // created on the way
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST(FilePathsTest, NextToWritableExecutableElseXdg) {
    unsetenv("MORVALE_HOME");
    test::TempDir dir;
    test::ScopedEnv cfg("XDG_CONFIG_HOME", dir / "cfg");
    test::ScopedEnv state("XDG_STATE_HOME", dir / "state");
    const std::string name = ExePath().substr(ExePath().rfind('/') + 1);
    if (access(ExeDir().c_str(), W_OK) == 0) {
        EXPECT_EQ(ConfigPath(), ExeDir() + "/" + ChangeFileExt(name, ".ini"));
        EXPECT_EQ(LogFilePath(), ExeDir() + "/" + ChangeFileExt(name, ".cdd"));
    } else {
        EXPECT_EQ(ConfigPath(), dir / "cfg/morvale/" + ChangeFileExt(name, ".ini"));
        EXPECT_EQ(LogFilePath(), dir / "state/morvale/" + ChangeFileExt(name, ".cdd"));
    }
}

TEST(SettingsTest, FirstStartWritesTheDefaults) {
    test::TempDir dir;
    const std::string path = dir / "morvale.ini";
    TFileConfig c;
    OpenSettings(c, path);
    // Every key that has a default, in the settings table's order, section by section, with a blank
    // line in front of each section but the first.
    const std::string want =
        "[general]\r\nAutoStart = 1\r\nRememberPass = 1\r\nAutoLogin = 1\r\nAutoLoginSite = \r\n"
        "AutoLoginUser = \r\nAutoLoginPass = \r\nHideLogin = 0\r\nHideMainForm = 0\r\nFaqStand = 0\r\n"
        "FirstRun = 1\r\n"
        "\r\n[chat]\r\nPopupChatForm = 1\r\nEndChatConfirm = 1\r\nNextChatFocus = 1\r\n"
        "\r\n[net]\r\nProxy = 0\r\nProxyServer = \r\nProxyPort = \r\nProxyUser = \r\nProxyPass = \r\n"
        "ProxyDomain = \r\n"
        "\r\n[sound]\r\nSoundNewVisitor = 1\r\nSoundNewVisitorWav = \r\nSoundNewCall = 1\r\n"
        "SoundNewCallWav = \r\nSoundNewMsg = 1\r\nSoundNewMsgWav = \r\nSoundSysinfo = 1\r\n"
        "SoundSysinfoWav = \r\n"
        "\r\n[popup]\r\nPopupNewCall = 1\r\nPopupNewMsg = 1\r\nPopupNewVisitor = 1\r\nPopupSysinfo = 1\r\n"
        "\r\n[hotkey]\r\nHotKeyNewMsg = 32881\r\nHotKeyFAQ = 113\r\nKeyNextChat = 32858\r\n"
        "HotKeySendMsg = 1\r\n"
        "\r\n[update]\r\nExeDownload = 0\r\n"
        "\r\n[view]\r\nFontSize = 0\r\n";
    EXPECT_EQ(test::ReadFile(path), want);
    EXPECT_EQ(c.GetInt("general/FirstRun"), 1);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // Sections in the stated order, and only the keys that have a default.
    std::vector<std::string> order;
    for (const auto& [name, section] : c.Sections()) order.push_back(name);
    std::sort(order.begin(), order.end(), [&](const std::string& a, const std::string& b) {
        return c.Sections().at(a).index < c.Sections().at(b).index;
    });
    EXPECT_EQ(order, (std::vector<std::string>{"general", "chat", "net", "sound", "popup", "hotkey", "update",
                                               "view"}));
    for (const char* none : {"general/Trace", "general/Debug", "sound/SoundNewCallOther",
                             "popup/PopupNewCallOther", "view/ShowLeftVisitor", "browser/handle_magnets"}) {
        EXPECT_FALSE(c.Exists(none)) << none;
    }
    const std::pair<const char*, const char*> defaults[] = {
        {"general/AutoStart", "1"},
        {"general/AutoLoginPass", ""},
        {"general/HideLogin", "0"},
        {"chat/NextChatFocus", "1"},
        {"net/Proxy", "0"},
        {"net/ProxyDomain", ""},
        {"sound/SoundSysinfoWav", ""},
        {"popup/PopupSysinfo", "1"},
        {"hotkey/HotKeyNewMsg", "32881"},
        {"hotkey/HotKeyFAQ", "113"},
        {"hotkey/KeyNextChat", "32858"},
        {"hotkey/HotKeySendMsg", "1"},
        {"update/ExeDownload", "0"},
        {"view/FontSize", "0"},
    };
    for (const auto& [key, value] : defaults) {
        EXPECT_TRUE(c.Exists(key)) << key;
        EXPECT_EQ(c.GetString(key), value) << key;
    }
}

TEST(SettingsTest, ExistingFileGainsMissingDefaultsOnlyInMemoryUntilSaved) {
    test::TempDir dir;
    const std::string path = dir / "morvale.ini";
    const std::string own = "[general]\r\nAutoStart = 0\r\nFirstRun = 0\r\n";
    test::WriteFile(path, own);
    TFileConfig c;
    OpenSettings(c, path);
    EXPECT_EQ(test::ReadFile(path), own);  // not rewritten
    EXPECT_EQ(c.GetInt("general/AutoStart"), 0);
    EXPECT_EQ(c.GetString("view/FontSize"), "0");
    ASSERT_TRUE(c.Save());
    const std::string saved = test::ReadFile(path);
    EXPECT_EQ(saved.rfind(own, 0), 0u);
    EXPECT_NE(saved.find("\r\n[view]\r\nFontSize = 0\r\n"), std::string::npos);
}

TEST(SettingsTest, UnreadableSettingsFileIsNotReplacedByTheDefaults) {
    // The file is made unreadable by its mode, which holds for the unprivileged child.
    test::TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);  // the directory stays writable for a save
    const std::string path = dir / "morvale.ini";
    const std::string own = "[general]\r\nAutoLoginPass = secret\r\n";
    test::WriteFile(path, own);
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    const int status = test::RunUnprivileged([&] {
        TFileConfig c;
        OpenSettings(c, path);
        return c.GetInt("general/FirstRun") == 1 ? 0 : 1;  // running on the defaults
    });
    EXPECT_EQ(status, 0);
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    EXPECT_EQ(test::ReadFile(path), own);
}

TEST(SettingsTest, ConfigLivesInMorvaleHome) {
    // Config is created once per process, so it is checked in a freshly started copy of this program.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    test::TempDir dir;
    test::ScopedEnv env("MORVALE_HOME", dir.path());
    EXPECT_EXIT(
        {
            TFileConfig& c = Config();
            const bool ok = &c == &Config() && c.FileName() == ConfigPath() &&
                            c.FileName().rfind(dir.path() + "/", 0) == 0 &&
                            std::filesystem::exists(c.FileName()) && c.GetInt("general/FirstRun") == 1;
            std::fprintf(stderr, "%s", ok ? "config ok" : "config wrong");
            std::filesystem::remove_all(dir.path());  // exit skips the destructor
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "config ok");
}

class ApplyAutoStartTest : public ::testing::Test {
  protected:
    std::optional<std::string> Current() { return RegReadValue(RunKeyPath() + AppTitle()); }
    test::TempDir dir_;
    test::ScopedEnv xdg_{"XDG_CONFIG_HOME", dir_.path()};
    std::string entry_ = dir_ / "autostart/morvale.desktop";
    TFileConfig config_;
};

TEST_F(ApplyAutoStartTest, WritesRewritesOrDeletes) {
    config_.SetInt("general/AutoStart", 1);
    ApplyAutoStart(config_, "/opt/morvale/morvale");
    EXPECT_EQ(Current(), "/opt/morvale/morvale /hide");

    ApplyAutoStart(config_, "/new/place/morvale");  // an entry for another path is rewritten
    EXPECT_EQ(Current(), "/new/place/morvale /hide");

    // The same value is left alone: a hand-edited entry stays byte for byte.
    const std::string edited = test::ReadFile(entry_) + "Comment=mine\n";
    test::WriteFile(entry_, edited);
    ApplyAutoStart(config_, "/new/place/morvale");
    EXPECT_EQ(test::ReadFile(entry_), edited);

    config_.SetInt("general/AutoStart", 0);
    ApplyAutoStart(config_, "/new/place/morvale");
    EXPECT_EQ(Current(), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(entry_));
    ApplyAutoStart(config_, "/new/place/morvale");  // nothing to delete: still nothing
    EXPECT_FALSE(std::filesystem::exists(entry_));
}

TEST_F(ApplyAutoStartTest, UnwritableAutostartDirectoryIsIgnored) {
    test::WriteFile(dir_ / "autostart", "a file where the directory should be");
    config_.SetInt("general/AutoStart", 1);
    ApplyAutoStart(config_, "/opt/morvale/morvale");
    EXPECT_EQ(Current(), std::nullopt);
}

}  // namespace
}  // namespace morvale

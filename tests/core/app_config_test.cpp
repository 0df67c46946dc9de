#include "core/app_config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

}  // namespace
}  // namespace morvale

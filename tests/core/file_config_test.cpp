#include "core/file_config.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "core/resources.h"
#include "temp_dir.h"

namespace morvale {
namespace {

class FileConfigTest : public ::testing::Test {
  protected:
    // A store on a file holding bytes, loaded without defaults.
    TFileConfig LoadText(const std::string& bytes) {
        test::WriteFile(path_, bytes);
        TFileConfig c;
        c.SetFileName(path_);
        EXPECT_TRUE(c.Load(true, false));
        return c;
    }
    std::string SaveText(TFileConfig& c) {
        EXPECT_TRUE(c.Save());
        return test::ReadFile(path_);
    }
    test::TempDir dir_;
    std::string path_ = dir_ / "settings.ini";
};

TEST_F(FileConfigTest, ParsesCommentsDuplicatesAndMalformedLinesLikeTheFixture) {
    TFileConfig c = LoadText(test::ReadFile(MORVALE_TEST_DATA "/core/mixed.ini"));
    EXPECT_EQ(c.GetString("a/x"), "1");  // the first occurrence wins
    EXPECT_EQ(c.GetString("a/y"), "two words");
    EXPECT_EQ(c.GetString("b/k"), "v=w");
    EXPECT_EQ(c.GetString("b/K"), "upper");  // keys differ by case
    EXPECT_FALSE(c.Exists("B/k"));           // and so do section names
    EXPECT_EQ(c.GetString("a/z"), "3");      // a repeated header continues the section
    EXPECT_FALSE(c.Exists("broken/k"));
    EXPECT_EQ(SaveText(c), test::ReadFile(MORVALE_TEST_DATA "/core/mixed.saved.ini"));

    // What Save wrote reads back to the same contents.
    TFileConfig again = LoadText(test::ReadFile(path_));
    EXPECT_EQ(SaveText(again), test::ReadFile(MORVALE_TEST_DATA "/core/mixed.saved.ini"));
}

TEST_F(FileConfigTest, DefaultsFillInUnderTheFileValues) {
    TFileConfig c;
    c.Parse("[a]\nx=1\n");
    c.Parse("[a]\nx=5\ny=6\n\n[c]\nq=7\n");
    EXPECT_EQ(c.GetString("a/x"), "1");
    EXPECT_EQ(c.GetString("a/y"), "6");
    c.SetFileName(path_);
    EXPECT_EQ(SaveText(c), "[a]\r\nx = 1\r\ny = 6\r\n\r\n[c]\r\nq = 7\r\n");
}

TEST_F(FileConfigTest, LoadWithBuiltInDefaults) {
    test::WriteFile(path_, "[general]\r\nAutoStart=0\r\n[own]\r\nk=v\r\n");
    TFileConfig c;
    c.SetFileName(path_);
    c.SetDefaultResource(kDefaultSettingsResource);
    ASSERT_TRUE(c.Load(true, true));
    EXPECT_EQ(c.GetInt("general/AutoStart"), 0);
    EXPECT_EQ(c.GetInt("general/FirstRun"), 1);
    EXPECT_EQ(c.GetInt("view/FontSize"), 0);
    EXPECT_TRUE(c.Exists("view/FontSize"));
    const std::string saved = SaveText(c);
    EXPECT_EQ(saved.rfind("[general]\r\nAutoStart = 0\r\nRememberPass = 1\r\n", 0), 0u);
    EXPECT_LT(saved.find("[own]\r\nk = v\r\n\r\n[chat]"), saved.find("[view]"));

    TFileConfig missing;
    missing.SetFileName(dir_ / "absent.ini");
    missing.SetDefaultResource(kDefaultSettingsResource);
    EXPECT_FALSE(missing.Load(true, true));
    EXPECT_EQ(missing.GetInt("hotkey/HotKeyNewMsg"), 32881);
}

TEST_F(FileConfigTest, PathsThatAreNoReadableFileLoadAsMissing) {
    struct Case {
        const char* name;
        int (*make)(const char* path);
    } cases[] = {
        {"directory", [](const char* p) { return mkdir(p, 0700); }},
        {"fifo_without_writer", [](const char* p) { return mkfifo(p, 0600); }},
    };
    for (const auto& c : cases) {
        const std::string path = dir_ / c.name;
        ASSERT_EQ(c.make(path.c_str()), 0) << c.name;
        TFileConfig store;
        store.SetFileName(path);
        store.SetDefaultResource(kDefaultSettingsResource);
        EXPECT_FALSE(store.Load(true, true)) << c.name;
        EXPECT_EQ(store.GetInt("general/FirstRun"), 1) << c.name;  // the defaults still fill in
        EXPECT_FALSE(store.Load(false, true)) << c.name;           // unchanged, but still not read
    }
}

TEST_F(FileConfigTest, HeaderNameIsTheTextInsideTheBrackets) {
    TFileConfig c = LoadText("[sec] # note ]\nk=v\n[ spaced ]\nk=w\n[]\nhidden=1\n");
    EXPECT_EQ(c.GetString("sec/k"), "v");
    EXPECT_EQ(c.GetString(" spaced /k"), "w");
    EXPECT_EQ(c.GetString("hidden"), "1");  // the empty-named section, addressed without "/"
    EXPECT_EQ(SaveText(c), "[sec]\r\nk = v\r\n[ spaced ]\r\nk = w\r\n");
}

TEST_F(FileConfigTest, GetIntConvertsLikeAtol) {
    TFileConfig c = LoadText("[n]\na=12abc\nb=abc\nc=-3\nd=  +7\ne=99999999999\nf=-99999999999\ng=\nh=- 4\n");
    const std::pair<const char*, int> cases[] = {
        {"n/a", 12},      {"n/b", 0}, {"n/c", -3}, {"n/d", 7},       {"n/e", INT_MAX},
        {"n/f", INT_MIN}, {"n/g", 0}, {"n/h", 0},  {"n/missing", 0}, {"nosection/x", 0},
    };
    for (const auto& [path, want] : cases) EXPECT_EQ(c.GetInt(path), want) << path;
}

TEST_F(FileConfigTest, SetCreatesSectionsAndKeysAtTheEnd) {
    TFileConfig c = LoadText("[a]\r\nx = 1\r\n[b]\r\ny = 2\r\n");
    c.SetString("new/k", "v");
    c.SetString("a/later", "w");
    c.SetInt("b/y", -42);
    c.SetString("a/path/with/slashes", "s");
    c.SetString("memoryonly", "m");
    EXPECT_EQ(c.GetString("memoryonly"), "m");
    EXPECT_EQ(c.GetString("a/path/with/slashes"), "s");
    EXPECT_EQ(SaveText(c),
              "[a]\r\nx = 1\r\nlater = w\r\npath/with/slashes = s\r\n[b]\r\ny = -42\r\n[new]\r\nk = v\r\n");
}

TEST_F(FileConfigTest, ValueLineBreaksCannotForgeEntries) {
    TFileConfig c = LoadText("[general]\r\nAutoStart = 0\r\n");
    c.SetString("general/AutoLoginPass", "pw\r\n[general]\r\nAutoStart=1");
    c.Save();
    TFileConfig back = LoadText(test::ReadFile(path_));
    EXPECT_EQ(back.GetInt("general/AutoStart"), 0);
    EXPECT_EQ(back.GetString("general/AutoLoginPass"), "pw  [general]  AutoStart=1");
}

TEST_F(FileConfigTest, ReloadsOnlyWhenTheFileChanged) {
    TFileConfig c = LoadText("[a]\r\nx = 1\r\n");
    c.SetString("a/x", "unsaved");
    EXPECT_TRUE(c.Load(false, false));
    EXPECT_EQ(c.GetString("a/x"), "unsaved");  // same modification time: kept

    test::WriteFile(path_, "[a]\r\nx = 2\r\n");
    const timespec later[2] = {{0, UTIME_OMIT}, {2000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path_.c_str(), later, 0), 0);
    EXPECT_TRUE(c.Load(false, false));
    EXPECT_EQ(c.GetString("a/x"), "2");

    c.SetString("a/x", "unsaved");
    EXPECT_TRUE(c.Load(true, false));  // forced: discarded
    EXPECT_EQ(c.GetString("a/x"), "2");

    // A file that went missing and comes back with the same time is read again.
    const std::string aside = path_ + ".aside";
    ASSERT_EQ(rename(path_.c_str(), aside.c_str()), 0);
    EXPECT_FALSE(c.Load(false, false));
    EXPECT_FALSE(c.Exists("a/x"));
    ASSERT_EQ(rename(aside.c_str(), path_.c_str()), 0);
    EXPECT_TRUE(c.Load(false, false));
    EXPECT_EQ(c.GetString("a/x"), "2");
}

TEST_F(FileConfigTest, SaveIsPrivateAndReportsFailure) {
    TFileConfig c = LoadText("[a]\r\nx = 1\r\n");
    chmod(path_.c_str(), 0644);
    ASSERT_TRUE(c.Save());
    struct stat st {};
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(std::filesystem::exists(path_ + ".tmp"));

    c.SetFileName(dir_ / "no/such/dir/settings.ini");
    EXPECT_FALSE(c.Save());
    EXPECT_EQ(c.GetString("a/x"), "1");
}

TEST_F(FileConfigTest, ReadOnlyFileIsNotReplaced) {
    const std::string own = "[a]\r\nx = 1\r\n";
    test::WriteFile(path_, own);
    ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
    ASSERT_EQ(chmod(dir_.path().c_str(), 0777), 0);  // the directory itself would take a new file
    const int status = test::RunUnprivileged([&] {
        TFileConfig c;
        c.SetFileName(path_);
        if (!c.Load(true, false)) return 1;
        c.SetString("a/x", "2");
        if (c.Save()) return 2;
        return c.GetString("a/x") == "2" ? 0 : 3;  // the change stays in memory
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(test::ReadFile(path_), own);
}

TEST_F(FileConfigTest, SaveWritesThroughALink) {
    const std::string real = dir_ / "real.ini";
    test::WriteFile(real, "[a]\r\nx = 1\r\n");
    ASSERT_EQ(symlink(real.c_str(), path_.c_str()), 0);
    TFileConfig c;
    c.SetFileName(path_);
    ASSERT_TRUE(c.Load(true, false));
    c.SetString("a/x", "2");
    ASSERT_TRUE(c.Save());
    struct stat st {};
    ASSERT_EQ(lstat(path_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(test::ReadFile(real), "[a]\r\nx = 2\r\n");
}

}  // namespace
}  // namespace morvale

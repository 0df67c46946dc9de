#include "core/app_config.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "core/file_config.h"
#include "core/resources.h"
#include "core/text_utils.h"

namespace morvale {

namespace {

std::string EnvDir(const char* name) {
    const char* v = std::getenv(name);
    if (v == nullptr || v[0] == '\0') return {};
    std::string dir = v;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

// An XDG base directory: the variable when it holds an absolute path, else $HOME + fallback.
std::string XdgDir(const char* var, const char* homeRelative) {
    std::string dir = EnvDir(var);
    if (!dir.empty() && dir.front() == '/') return dir;
    const std::string home = EnvDir("HOME");
    return home.empty() ? std::string() : home + "/" + homeRelative;
}

void MakeDirs(const std::string& dir) {
    for (size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos == dir.size() || dir[pos] == '/') {
            const std::string part = dir.substr(0, pos);
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return;
        }
    }
}

std::string ExeFileName() {
    const std::string exe = ExePath();
    const size_t slash = exe.rfind('/');
    return slash == std::string::npos ? exe : exe.substr(slash + 1);
}

// The directory for a file kind: MORVALE_HOME, the executable's writable directory, or the XDG one.
std::string FileDir(const char* xdgVar, const char* xdgHomeRelative) {
    std::string dir = EnvDir("MORVALE_HOME");
    if (dir.empty()) {
        const std::string exeDir = ExeDir();
        if (!exeDir.empty() && ::access(exeDir.c_str(), W_OK) == 0) return exeDir;
        dir = XdgDir(xdgVar, xdgHomeRelative);
        if (dir.empty()) return exeDir;
        dir += "/morvale";
    }
    MakeDirs(dir);
    return dir;
}

std::string FilePath(const char* xdgVar, const char* xdgHomeRelative, const std::string& ext) {
    return FileDir(xdgVar, xdgHomeRelative) + "/" + ChangeFileExt(ExeFileName(), ext);
}

}  // namespace

std::string AppName() { return "morvale"; }

// Spelled as GBK bytes so that the title is the same whatever the compiler's execution charset.
std::string AppTitle() { return "MorVale\xD4\xDA\xCF\xDF\xBF\xCD\xB7\xFE"; }

std::string HomePageUrl() { return "http://www.morvale.example/"; }

std::string ExePath() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string ExeDir() {
    const std::string exe = ExePath();
    const size_t slash = exe.rfind('/');
    if (slash == std::string::npos) return {};
    return slash == 0 ? std::string("/") : exe.substr(0, slash);
}

std::string ChangeFileExt(const std::string& path, const std::string& extension) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + extension;
    return path.substr(0, dot) + extension;
}

std::string ConfigPath() { return FilePath("XDG_CONFIG_HOME", ".config", ".ini"); }
std::string LogFilePath() { return FilePath("XDG_STATE_HOME", ".local/state", ".cdd"); }
std::string UpdateIniPath() { return FilePath("XDG_STATE_HOME", ".local/state", ".up.ini"); }

std::string RunKeyPath() { return "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\"; }

std::string VersionText() { return FileVersionText(ExePath()); }

int VersionNumber(int i) {
    const std::vector<std::string> parts = Split(VersionText(), ".");
    if (i < 0 || static_cast<size_t>(i) >= parts.size()) return 0;
    return std::atoi(parts[static_cast<size_t>(i)].c_str());
}

TFileConfig& Config() {
    static TFileConfig* store = [] {
        auto* s = new TFileConfig;
        OpenSettings(*s, ConfigPath());
        return s;
    }();
    return *store;
}

void OpenSettings(TFileConfig& store, const std::string& path) {
    store.SetDefaultResource(kDefaultSettingsResource);
    store.SetFileName(path);
    if (store.Load(true, true)) return;
    // Only a settings file that does not exist yet is written from the defaults: one that exists but
    // cannot be read would be replaced by the save and its settings lost.
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) store.Save();
}

void ApplyAutoStart() { ApplyAutoStart(Config(), ExePath()); }

void ApplyAutoStart(const TFileConfig& config, const std::string& exePath) {
    const std::string key = RunKeyPath() + AppTitle();
    const std::string wanted = exePath + " /hide";
    const std::optional<std::string> current = RegReadValue(key);
    if (config.GetInt("general/AutoStart") != 0) {
        if (current != wanted) RegWriteValue(key, std::string_view(wanted));
    } else if (current) {
        RegWriteValue(key, std::nullopt);
    }
}

}  // namespace morvale

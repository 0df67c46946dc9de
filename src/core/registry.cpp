// Registry-style value access. On Linux the current user's Run key is backed by the XDG autostart
// entry of the program, so that the autostart setting works the same way on both systems.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "core/app_config.h"
#include "core/gbk.h"
#include "core/text_utils.h"

namespace morvale {

namespace {

constexpr std::string_view kRunSubkey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string AutostartDir() {
    const char* v = std::getenv("XDG_CONFIG_HOME");
    if (v != nullptr && v[0] == '/') return std::string(v) + "/autostart";
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') return {};
    return std::string(home) + "/.config/autostart";
}

// The autostart entry standing for the value at path, or empty when the path is not backed.
std::string EntryFor(std::string_view path) {
    const std::optional<RegPath> p = ParseRegPath(path);
    if (!p || !EqualsNoCase(p->root, "HKCU") || !EqualsNoCase(p->subkey, kRunSubkey) ||
        !EqualsNoCase(p->valueName, AppTitle())) {
        return {};
    }
    const std::string dir = AutostartDir();
    return dir.empty() ? std::string() : dir + "/morvale.desktop";
}

bool NeedsQuoting(std::string_view arg) {
    if (arg.empty()) return true;
    for (char c : arg) {
        if (std::string_view(" \t\n\"'\\><~|&;$*?#()`").find(c) != std::string_view::npos) return true;
    }
    return false;
}

// One argument of an Exec line: quoted when needed, "%" doubled for the field-code rule.
std::string ExecArg(std::string_view arg) {
    std::string out;
    const bool quote = NeedsQuoting(arg);
    if (quote) out += '"';
    for (char c : arg) {
        if (c == '%') {
            out += "%%";
            continue;
        }
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
        out += c;
    }
    if (quote) out += '"';
    return out;
}

// The string-level escapes of desktop entry values.
std::string EscapeValue(std::string_view v) {
    std::string out;
    for (char c : v) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string UnescapeValue(std::string_view v) {
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] != '\\' || i + 1 == v.size()) {
            out += v[i];
            continue;
        }
        switch (v[++i]) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                out += v[i];
        }
    }
    return out;
}

// The arguments of an Exec line joined by single blanks: the command line it stands for.
std::string ExecToCommand(std::string_view exec) {
    std::string out, arg;
    bool inQuote = false, haveArg = false;
    std::vector<std::string> args;
    for (size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (c == '%' && i + 1 < exec.size() && exec[i + 1] == '%') {
            arg += '%';
            haveArg = true;
            ++i;
        } else if (inQuote) {
            if (c == '"') {
                inQuote = false;
            } else if (c == '\\' && i + 1 < exec.size()) {
                arg += exec[++i];
            } else {
                arg += c;
            }
        } else if (c == '"') {
            inQuote = true;
            haveArg = true;
        } else if (c == ' ' || c == '\t') {
            if (haveArg) args.push_back(arg);
            arg.clear();
            haveArg = false;
        } else {
            arg += c;
            haveArg = true;
        }
    }
    if (haveArg) args.push_back(arg);
    for (size_t i = 0; i < args.size(); ++i) {
        if (i > 0) out += ' ';
        out += args[i];
    }
    return out;
}

std::optional<std::string> ReadEntry(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string line;
    bool inMainGroup = false;
    std::optional<std::string> exec;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.front() == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup) continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = Trim(std::string_view(line).substr(0, eq));
        const std::string value = Trim(std::string_view(line).substr(eq + 1));
        // A hidden entry counts as deleted.
        if (key == "Hidden" && value == "true") return std::nullopt;
        if (key == "Exec" && !exec) exec = ExecToCommand(UnescapeValue(value));
    }
    return exec;
}

bool WriteEntry(const std::string& file, std::string_view command) {
    // Program and argument: the command line is the executable's path and one switch, so the last
    // blank separates them (a path with blanks stays one quoted argument).
    std::string exec;
    const size_t blank = command.rfind(' ');
    if (blank == std::string_view::npos) {
        exec = ExecArg(command);
    } else {
        exec = ExecArg(command.substr(0, blank)) + " " + ExecArg(command.substr(blank + 1));
    }
    std::ostringstream text;
    text << "[Desktop Entry]\n"
         << "Type=Application\n"
         << "Name=" << EscapeValue(GbkToUtf8(AppTitle())) << "\n"
         << "Exec=" << EscapeValue(exec) << "\n"
         << "X-GNOME-Autostart-enabled=true\n";
    const std::string body = text.str();

    const std::string dir = file.substr(0, file.rfind('/'));
    const std::string parent = dir.substr(0, dir.rfind('/'));
    ::mkdir(parent.c_str(), 0700);
    ::mkdir(dir.c_str(), 0700);
    const std::string tmp = file + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return false;
    bool ok = ::write(fd, body.data(), body.size()) == static_cast<ssize_t>(body.size());
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(tmp.c_str(), file.c_str()) == 0;
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}

}  // namespace

std::optional<RegPath> ParseRegPath(std::string_view path) {
    const size_t first = path.find('\\');
    const size_t last = path.rfind('\\');
    if (first == std::string_view::npos || first == last) return std::nullopt;
    RegPath p{std::string(path.substr(0, first)), std::string(path.substr(first + 1, last - first - 1)),
              std::string(path.substr(last + 1))};
    for (std::string_view root : {"HKCR", "HKCU", "HKLM", "HKU"}) {
        if (EqualsNoCase(p.root, root)) return p;
    }
    return std::nullopt;
}

std::optional<std::string> RegReadValue(std::string_view path) {
    const std::string file = EntryFor(path);
    if (file.empty()) return std::nullopt;
    return ReadEntry(file);
}

bool RegWriteValue(std::string_view path, std::optional<std::string_view> value) {
    const std::string file = EntryFor(path);
    if (file.empty()) return false;
    if (!value) return ::unlink(file.c_str()) == 0 || errno == ENOENT;
    return WriteEntry(file, *value);
}

}  // namespace morvale

#include "core/file_config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <vector>

#include "core/resources.h"
#include "core/text_utils.h"

namespace morvale {

namespace {

struct PathParts {
    std::string_view section;
    std::string_view key;
};

PathParts SplitPath(std::string_view path) {
    const size_t slash = path.find('/');
    if (slash == std::string_view::npos) return {{}, path};
    return {path.substr(0, slash), path.substr(slash + 1)};
}

template <typename T>
std::vector<const T*> ByIndex(const std::map<std::string, T>& items) {
    std::vector<const T*> out;
    out.reserve(items.size());
    for (const auto& [name, item] : items) out.push_back(&item);
    std::stable_sort(out.begin(), out.end(), [](const T* a, const T* b) { return a->index < b->index; });
    return out;
}

// A value holding a line break would be read back as further lines (a new key, a new section), so
// it is written with blanks in their place.
std::string OneLine(const std::string& v) {
    std::string out = v;
    for (char& c : out) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    return out;
}

// The whole of a regular file. Anything else (a directory, a pipe that would block) and any read
// error count as a file that could not be read.
bool ReadAll(const std::string& path, std::string& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    char buf[16384];
    while (ok) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return ok;
}

bool WriteAll(int fd, const std::string& bytes) {
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool TFileConfig::Load(bool force, bool withDefaults) {
    struct stat st {};
    std::optional<timespec> seen;
    if (::stat(fileName_.c_str(), &st) == 0) {
        const timespec t = st.st_mtim;
        if (!force && lastWriteTime_ && lastWriteTime_->tv_sec == t.tv_sec &&
            lastWriteTime_->tv_nsec == t.tv_nsec) {
            return true;
        }
        seen = t;
    }
    sections_.clear();
    std::string text;
    const bool read = ReadAll(fileName_, text);
    if (read) Parse(text);
    // Only a time whose contents are in the store may short-cut the next load: after a failed read
    // the next one must try again, not report the file as read.
    lastWriteTime_ = read ? seen : std::nullopt;
    if (withDefaults && defaultResource_ != 0) {
        if (const auto text = TextResource(defaultResource_)) Parse(*text);
    }
    return read;
}

void TFileConfig::Parse(std::string_view text) {
    std::string comment;
    TFileConfigSection* current = nullptr;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string line = Trim(text.substr(start, end - start));
        start = end + 1;

        if (line.empty() || line[0] == '#') {
            comment += line + "\r\n";
            continue;
        }
        if (line[0] == '[') {
            const size_t close = line.find(']');
            if (close == std::string::npos) {
                comment += line + "\r\n";
                continue;
            }
            const std::string name = line.substr(1, close - 1);
            auto it = sections_.find(name);
            if (it == sections_.end()) {
                TFileConfigSection s;
                s.name = name;
                s.comment = std::move(comment);
                s.index = static_cast<int>(sections_.size());
                it = sections_.emplace(name, std::move(s)).first;
            }
            comment.clear();
            current = &it->second;
            continue;
        }
        const size_t eq = line.find('=');
        // Without a section of this text to belong to, a key line can only be kept as a comment.
        if (current == nullptr || eq == std::string::npos) {
            comment += line + "\r\n";
            continue;
        }
        const std::string key = Trim(std::string_view(line).substr(0, eq));
        if (current->values.find(key) == current->values.end()) {
            TFileConfigValue v;
            v.key = key;
            v.value = Trim(std::string_view(line).substr(eq + 1));
            v.comment = std::move(comment);
            v.index = static_cast<int>(current->values.size());
            current->values.emplace(key, std::move(v));
        }
        comment.clear();
    }
}

bool TFileConfig::Save() {
    std::string out;
    for (const TFileConfigSection* s : ByIndex(sections_)) {
        if (s->name.empty()) continue;
        out += s->comment;
        out += "[" + s->name + "]\r\n";
        for (const TFileConfigValue* v : ByIndex(s->values)) {
            if (v->key.empty()) continue;
            out += v->comment;
            out += v->key + " = " + OneLine(v->value) + "\r\n";
        }
    }

    // Written to a private temporary file and renamed over the old one, so that a failure half-way
    // never leaves a truncated settings file; a link, or a directory that refuses new files, gets the
    // file rewritten in place instead.
    struct stat st {};
    const bool exists = ::lstat(fileName_.c_str(), &st) == 0;
    const bool isLink = exists && S_ISLNK(st.st_mode);
    // The rename below would replace a file its owner made read-only; that file stays as it is, as
    // it would if it were rewritten in place.
    if (exists && !isLink && ::access(fileName_.c_str(), W_OK) != 0) return false;
    if (!isLink) {
        const std::string tmp = fileName_ + ".tmp";
        ::unlink(tmp.c_str());
        const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            bool ok = WriteAll(fd, out) && ::fsync(fd) == 0;
            ok = ::close(fd) == 0 && ok;
            if (ok && ::rename(tmp.c_str(), fileName_.c_str()) == 0) return true;
            ::unlink(tmp.c_str());
            if (!ok) return false;
        }
    }
    const int fd = ::open(fileName_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, out);
    ok = ::close(fd) == 0 && ok;
    return ok;
}

const TFileConfigValue* TFileConfig::Find(std::string_view path) const {
    const PathParts p = SplitPath(path);
    const auto s = sections_.find(std::string(p.section));
    if (s == sections_.end()) return nullptr;
    const auto v = s->second.values.find(std::string(p.key));
    return v == s->second.values.end() ? nullptr : &v->second;
}

std::string TFileConfig::GetString(std::string_view path) const {
    const TFileConfigValue* v = Find(path);
    return v != nullptr ? v->value : std::string();
}

int TFileConfig::GetInt(std::string_view path) const {
    const TFileConfigValue* v = Find(path);
    if (v == nullptr) return 0;
    const std::string& s = v->value;
    size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    long long n = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        n = n * 10 + (s[i] - '0');
        if (n > static_cast<long long>(INT_MAX) + 1) n = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) n = -n;
    // Out-of-range numbers saturate instead of wrapping into a different setting.
    if (n > INT_MAX) return INT_MAX;
    return static_cast<int>(n);
}

bool TFileConfig::Exists(std::string_view path) const { return Find(path) != nullptr; }

void TFileConfig::SetString(std::string_view path, std::string_view text) {
    const PathParts p = SplitPath(path);
    const std::string name(p.section);
    auto s = sections_.find(name);
    if (s == sections_.end()) {
        TFileConfigSection section;
        section.name = name;
        section.index = static_cast<int>(sections_.size());
        s = sections_.emplace(name, std::move(section)).first;
    }
    const std::string key(p.key);
    auto& values = s->second.values;
    auto v = values.find(key);
    if (v == values.end()) {
        TFileConfigValue value;
        value.key = key;
        value.index = static_cast<int>(values.size());
        v = values.emplace(key, std::move(value)).first;
    }
    v->second.value = std::string(text);
}

void TFileConfig::SetInt(std::string_view path, int n) { SetString(path, std::to_string(n)); }

}  // namespace morvale

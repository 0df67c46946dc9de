#include "core/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <optional>

#include "core/app_config.h"

namespace morvale {

namespace {

constexpr off_t kRotateSize = 2097152;

double MonotonicSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

class Sink {
  public:
    void Write(const std::string& line) {
        std::lock_guard lock(mutex_);
        if (echo_ != nullptr) {
            std::fwrite(line.data(), 1, line.size(), echo_);
            std::fflush(echo_);
        }
        if (!EnsureOpen()) return;
        const char* p = line.data();
        size_t left = line.size();
        while (left > 0) {
            const ssize_t n = ::write(fd_, p, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                // A full disk or a vanished file: drop the line and try a fresh open later.
                CloseLocked();
                lastFailure_ = MonotonicSeconds();
                return;
            }
            p += n;
            left -= static_cast<size_t>(n);
        }
    }

    void SetPath(std::string path) {
        std::lock_guard lock(mutex_);
        CloseLocked();
        path_ = std::move(path);
        lastFailure_.reset();
    }

    void SetEcho(std::FILE* stream) {
        std::lock_guard lock(mutex_);
        echo_ = stream;
    }

    bool Rotate(const std::string& path) {
        std::lock_guard lock(mutex_);
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || st.st_size <= kRotateSize) return false;
        if (fd_ >= 0 && openedPath_ == path) CloseLocked();
        const std::string aside = path + ".2";
        ::unlink(aside.c_str());
        return ::rename(path.c_str(), aside.c_str()) == 0;
    }

  private:
    bool EnsureOpen() {
        if (fd_ >= 0) return true;
        const double now = MonotonicSeconds();
        if (lastFailure_ && now - *lastFailure_ < 1.0) return false;
        const std::string path = path_ ? *path_ : LogFilePath();
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0600);
        if (fd_ < 0) {
            lastFailure_ = now;
            return false;
        }
        openedPath_ = path;
        lastFailure_.reset();
        return true;
    }

    void CloseLocked() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        openedPath_.clear();
    }

    std::mutex mutex_;
    std::optional<std::string> path_;
    std::string openedPath_;
    int fd_ = -1;
    std::FILE* echo_ = nullptr;
    std::optional<double> lastFailure_;
};

// Never destroyed, so that lines logged from other static destructors still find it.
Sink& TheSink() {
    static Sink* sink = new Sink;
    return *sink;
}

std::string Stamp() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(ts.tv_nsec / 1000000));
    return buf;
}

void Emit(std::string_view tag, std::string_view kind, std::string_view text) {
    std::string line = Stamp();
    line.reserve(line.size() + tag.size() + kind.size() + text.size() + 6);
    line += " [";
    line += tag;
    line += "] ";
    line += kind;
    line += ' ';
    line += text;
    line += '\n';
    TheSink().Write(line);
}

}  // namespace

void LogLine(std::string_view tag, int level, std::string_view text) {
    static constexpr std::string_view kLevels[] = {"L0", "L1", "L2"};
    Emit(tag, kLevels[level < 0 ? 0 : level > 2 ? 2 : level], text);
}

void LogLine(std::string_view tag, LogMsgType type, std::string_view text) {
    std::string_view kind = "Information";
    switch (type) {
        case LogMsgType::Information:
            kind = "Information";
            break;
        case LogMsgType::Warning:
            kind = "Warning";
            break;
        case LogMsgType::Error:
            kind = "Error";
            break;
        case LogMsgType::Exception:
            kind = "Exception";
            break;
    }
    Emit(tag, kind, text);
}

void SetLogFilePath(std::string path) { TheSink().SetPath(std::move(path)); }

void SetLogEcho(std::FILE* stream) { TheSink().SetEcho(stream); }

bool RotateLog(const std::string& path) { return TheSink().Rotate(path); }

void DebugOutput(std::string_view text) {
    std::string line(text);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace morvale

#include "core/text_utils.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace morvale {

namespace {

constexpr std::int64_t kMsPerDay = 86400000;
// Days from 1899-12-30 (day 0 of the date-time) to 1970-01-01.
constexpr std::int64_t kUnixEpochDay = 25569;

int Base64Index(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

int HexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool NeedsUrlEscape(unsigned char c) {
    if (c < 0x21 || c > 0x7E) return c != 0x7F;
    switch (c) {
        case '*':
        case '#':
        case '%':
        case '<':
        case '>':
        case '[':
        case ']':
        case '+':
        case '=':
        case '&':
        case '"':
            return true;
        default:
            return false;
    }
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsTrimByte(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Proleptic Gregorian calendar conversions (H. Hinnant's civil date algorithms), days since 1970-01-01.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

// The calendar the date-time covers: 0001-01-01 to 9999-12-31. Beyond it the millisecond count
// would overflow, so such values (a malformed server time) are not shown as dates.
constexpr double kFirstDay = -693593;
constexpr double kLastDay = 2958465;

bool InCalendar(DateTime value) { return value > kFirstDay - 1 && value < kLastDay + 1; }

// Whole days and milliseconds of the day; negative values count the date towards the past and the
// fraction as a positive time of day, as the day-count representation defines. Values outside the
// calendar are taken as its nearest end.
void SplitDateTime(DateTime value, std::int64_t& day, std::int64_t& ms) {
    if (std::isnan(value)) value = 0;
    if (!InCalendar(value)) value = value < 0 ? kFirstDay : kLastDay;
    if (value >= 0) {
        const auto total = static_cast<std::int64_t>(std::llround(value * kMsPerDay));
        day = total / kMsPerDay;
        ms = total % kMsPerDay;
        return;
    }
    day = static_cast<std::int64_t>(std::trunc(value));
    ms = std::llround((static_cast<double>(day) - value) * kMsPerDay);
    if (ms >= kMsPerDay) {
        day -= 1;
        ms = 0;
    }
}

void AppendPadded(std::string& out, int value, int width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*d", width, value);
    out += buf;
}

bool ParseFixedNumber(std::string_view text, size_t pos, size_t width, int& out) {
    if (pos + width > text.size()) return false;
    int v = 0;
    for (size_t i = pos; i < pos + width; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
    }
    out = v;
    return true;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

bool ParseDate(std::string_view t, DateTimeParts& p) {
    return t.size() == 10 && t[4] == '-' && t[7] == '-' && ParseFixedNumber(t, 0, 4, p.year) &&
           ParseFixedNumber(t, 5, 2, p.month) && ParseFixedNumber(t, 8, 2, p.day) && p.year >= 1 &&
           p.month >= 1 && p.month <= 12 && p.day >= 1 && p.day <= DaysInMonth(p.year, p.month);
}

bool ParseTime(std::string_view t, DateTimeParts& p) {
    return t.size() == 8 && t[2] == ':' && t[5] == ':' && ParseFixedNumber(t, 0, 2, p.hour) &&
           ParseFixedNumber(t, 3, 2, p.minute) && ParseFixedNumber(t, 6, 2, p.second) && p.hour < 24 &&
           p.minute < 60 && p.second < 60;
}

}  // namespace

std::string Base64Decode(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    int group[4];
    int n = 0;
    for (unsigned char c : text) {
        const int idx = Base64Index(c);
        if (idx < 0) continue;
        group[n++] = idx;
        if (n == 4) {
            out += static_cast<char>((group[0] << 2) | (group[1] >> 4));
            out += static_cast<char>(((group[1] & 15) << 4) | (group[2] >> 2));
            out += static_cast<char>(((group[2] & 3) << 6) | group[3]);
            n = 0;
        }
    }
    if (n >= 2) out += static_cast<char>((group[0] << 2) | (group[1] >> 4));
    if (n == 3) out += static_cast<char>(((group[1] & 15) << 4) | (group[2] >> 2));
    return out;
}

std::string UrlEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (unsigned char c : text) {
        if (NeedsUrlEscape(c)) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::optional<std::string> UrlDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (text.size() - i < 3) return std::nullopt;
            const int hi = HexValue(static_cast<unsigned char>(text[i + 1]));
            const int lo = HexValue(static_cast<unsigned char>(text[i + 2]));
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
            } else {
                out += c;
            }
        } else if (c == '+') {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

namespace {

// Markup characters become entities; quotes only where an attribute value needs them.
std::string XmlEscape(std::string_view text, bool quotes) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '\'':
                out += quotes ? "&apos;" : "'";
                break;
            case '"':
                out += quotes ? "&quot;" : "\"";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace

std::string XmlEscapeText(std::string_view text) { return XmlEscape(text, false); }

std::string XmlEscapeAttr(std::string_view text) { return XmlEscape(text, true); }

std::vector<std::string> Split(std::string_view text, std::string_view delimiter) {
    std::vector<std::string> pieces;
    if (text.empty()) return pieces;
    if (delimiter.empty()) {
        pieces.emplace_back(text);
        return pieces;
    }
    size_t start = 0;
    for (;;) {
        const size_t pos = text.find(delimiter, start);
        if (pos == std::string_view::npos) {
            pieces.emplace_back(text.substr(start));
            return pieces;
        }
        pieces.emplace_back(text.substr(start, pos - start));
        start = pos + delimiter.size();
    }
}

std::string Trim(std::string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && IsTrimByte(text[b])) ++b;
    while (e > b && IsTrimByte(text[e - 1])) --e;
    return std::string(text.substr(b, e - b));
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

std::string ReplaceAll(std::string_view text, std::string_view find, std::string_view replacement) {
    if (find.empty()) return std::string(text);
    std::string out;
    size_t start = 0;
    for (;;) {
        const size_t pos = text.find(find, start);
        if (pos == std::string_view::npos) break;
        out.append(text.substr(start, pos - start));
        out.append(replacement);
        start = pos + find.size();
    }
    out.append(text.substr(start));
    return out;
}

DateTime UnixToLocal(std::int64_t seconds) {
    // Added in floating point: a server time near the integer limits must not wrap into the past.
    return (static_cast<double>(seconds) + 28800.0) / 86400.0 + static_cast<double>(kUnixEpochDay);
}

DateTime NowDateTime() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    DateTimeParts p;
    p.year = local.tm_year + 1900;
    p.month = local.tm_mon + 1;
    p.day = local.tm_mday;
    p.hour = local.tm_hour;
    p.minute = local.tm_min;
    p.second = local.tm_sec;
    p.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
    return EncodeDateTime(p);
}

DateTimeParts DecodeDateTime(DateTime value) {
    std::int64_t day = 0, ms = 0;
    SplitDateTime(value, day, ms);
    DateTimeParts p;
    CivilFromDays(day - kUnixEpochDay, p.year, p.month, p.day);
    p.hour = static_cast<int>(ms / 3600000);
    p.minute = static_cast<int>(ms / 60000 % 60);
    p.second = static_cast<int>(ms / 1000 % 60);
    p.millisecond = static_cast<int>(ms % 1000);
    return p;
}

DateTime EncodeDateTime(const DateTimeParts& p) {
    const std::int64_t day =
        DaysFromCivil(p.year, static_cast<unsigned>(p.month), static_cast<unsigned>(p.day)) + kUnixEpochDay;
    const double frac =
        static_cast<double>(((p.hour * 60 + p.minute) * 60 + p.second) * 1000 + p.millisecond) / kMsPerDay;
    return day >= 0 ? static_cast<double>(day) + frac : static_cast<double>(day) - frac;
}

std::string FormatDateTime(std::string_view format, DateTime value) {
    if (!InCalendar(value)) return {};
    const DateTimeParts p = DecodeDateTime(value);
    std::string out;
    size_t i = 0;
    auto token = [&](std::string_view t) {
        if (format.substr(i, t.size()) != t) return false;
        i += t.size();
        return true;
    };
    while (i < format.size()) {
        if (token("yyyy"))
            AppendPadded(out, p.year, 4);
        else if (token("mm"))
            AppendPadded(out, p.month, 2);
        else if (token("dd"))
            AppendPadded(out, p.day, 2);
        else if (token("hh"))
            AppendPadded(out, p.hour, 2);
        else if (token("nn"))
            AppendPadded(out, p.minute, 2);
        else if (token("ss"))
            AppendPadded(out, p.second, 2);
        else if (token("zzz"))
            AppendPadded(out, p.millisecond, 3);
        else
            out += format[i++];
    }
    return out;
}

std::string DateTimeToText(DateTime value) {
    if (!InCalendar(value)) return {};
    if (value < 1) return FormatDateTime("hh:nn:ss", value);
    std::int64_t day = 0, ms = 0;
    SplitDateTime(value, day, ms);
    return FormatDateTime(ms == 0 ? "yyyy-mm-dd" : "yyyy-mm-dd hh:nn:ss", value);
}

std::optional<DateTime> TextToDateTime(std::string_view text) {
    DateTimeParts p;
    if (text.size() == 8) {
        if (!ParseTime(text, p)) return std::nullopt;
        return static_cast<double>((p.hour * 60 + p.minute) * 60 + p.second) / 86400.0;
    }
    if (text.size() == 10) {
        if (!ParseDate(text, p)) return std::nullopt;
        return EncodeDateTime(p);
    }
    if (text.size() == 19 && text[10] == ' ' && ParseDate(text.substr(0, 10), p) &&
        ParseTime(text.substr(11), p)) {
        return EncodeDateTime(p);
    }
    return std::nullopt;
}

std::string FormatDuration(unsigned seconds) {
    char buf[48];
    if (seconds < 3600) {
        std::snprintf(buf, sizeof buf, "%u:%02u", seconds / 60, seconds % 60);
    } else {
        std::snprintf(buf, sizeof buf, "%u:%02u:%02u", seconds / 3600, seconds / 60 % 60, seconds % 60);
    }
    return buf;
}

std::string TempPath() {
    const char* env = std::getenv("TMPDIR");
    std::string base = (env != nullptr && env[0] == '/') ? env : "/tmp";
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    const uid_t uid = getuid();
    std::string dir = (base == "/" ? "" : base) + "/morvale-" + std::to_string(uid);
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return {};
    // A name planted by someone else (a link, a file, a directory of another user) is never used.
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return {};
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid;
    if (ok && (st.st_mode & 077) != 0) ok = fchmod(fd, 0700) == 0;
    close(fd);
    return ok ? dir + "/" : std::string();
}

std::string FileVersionText(const std::string& path) {
    struct stat self {
    }, other{};
    if (path.empty() || stat("/proc/self/exe", &self) != 0 || stat(path.c_str(), &other) != 0) return {};
    if (self.st_dev != other.st_dev || self.st_ino != other.st_ino) return {};
    return MORVALE_VERSION_TEXT;
}

bool IsWindowsNT6() { return false; }

}  // namespace morvale

#pragma once

// Byte-exact helpers on GBK byte strings and day-count date-times. The server and the stored files
// depend on the exact bytes these produce, so none of them converts character sets.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvale {

// Standard-alphabet Base64; bytes outside the alphabet ("=", line breaks, blanks) are skipped and a
// trailing group of 2 or 3 indexes yields 1 or 2 bytes. The result's size is the decoded length.
std::string Base64Decode(std::string_view text);

// Escapes bytes below 0x21, above 0x7E and * # % < > [ ] + = & " as "%XX" (upper-case hex).
std::string UrlEncode(std::string_view text);

// "%XX" (either case) becomes the byte, "+" a blank; none when a "%" has fewer than two bytes after it.
// A "%" followed by two bytes that are not both hex digits is copied as it is.
std::optional<std::string> UrlDecode(std::string_view text);

// "<" ">" "&" become entities.
std::string XmlEscapeText(std::string_view text);
// As XmlEscapeText, plus "'" and the double quote.
std::string XmlEscapeAttr(std::string_view text);

// Cuts at every occurrence of delimiter, keeping empty pieces; an empty text gives no pieces.
// An empty delimiter cannot cut anything: the text comes back as the only piece.
std::vector<std::string> Split(std::string_view text, std::string_view delimiter);

// Strips blanks, tabs, CR and LF at both ends.
std::string Trim(std::string_view text);

// Byte comparison ignoring the case of ASCII letters.
bool EqualsNoCase(std::string_view a, std::string_view b);

// Replaces every occurrence of find from the left; inserted text is never searched again. An empty
// find leaves the text as it is.
std::string ReplaceAll(std::string_view text, std::string_view find, std::string_view replacement);

// Date-times are days since 1899-12-30, the time of day as the fraction.
using DateTime = double;

// Server Unix seconds to China time (UTC+8, whatever the local time zone).
DateTime UnixToLocal(std::int64_t seconds);

// The local time now as a date-time.
DateTime NowDateTime();

// Calendar parts of a date-time, rounded to the millisecond. A value before 0001-01-01 or after
// 9999-12-31 gives the parts of that nearest end.
struct DateTimeParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};
DateTimeParts DecodeDateTime(DateTime value);
DateTime EncodeDateTime(const DateTimeParts& parts);

// Formats with the tokens yyyy, mm, dd, hh, nn, ss and zzz (zero-padded); other bytes are copied.
// A value outside the years 1 to 9999 (or not a number) gives an empty text.
// Example: FormatDateTime("yyyy-mm-dd hh:nn:ss", v).
std::string FormatDateTime(std::string_view format, DateTime value);

// A whole day count >= 1 gives "yyyy-mm-dd", one with a fraction "yyyy-mm-dd hh:nn:ss", a value
// below 1 the time "hh:nn:ss" alone; empty outside the years 1 to 9999.
std::string DateTimeToText(DateTime value);
// Parses the three forms DateTimeToText writes; none for anything else.
std::optional<DateTime> TextToDateTime(std::string_view text);

// "m:ss" below an hour, "h:mm:ss" from 3600 seconds up.
std::string FormatDuration(unsigned seconds);

// The program's private temporary directory with a trailing "/": a per-user directory of mode 0700
// under $TMPDIR (or /tmp), created without following links. Empty when it cannot be made safe.
std::string TempPath();

// "a.b.c.d" for the running program's executable (the build's version), empty for any other file.
std::string FileVersionText(const std::string& path);

// Registry-style value paths: root name, "\", subkey, "\", value name. Roots HKCR, HKCU, HKLM, HKU
// (any case). The value name follows the last "\" (empty for the default value).
struct RegPath {
    std::string root;
    std::string subkey;
    std::string valueName;
};
std::optional<RegPath> ParseRegPath(std::string_view path);

// On Linux the only backed key is the current user's Run key: the value named by the application's
// title is its XDG autostart entry ($XDG_CONFIG_HOME/autostart/morvale.desktop), the value being the
// entry's command line. Every other path reads as none and fails to write.
std::optional<std::string> RegReadValue(std::string_view path);
// Sets the value, or deletes it when value is none (true when it is absent afterwards).
bool RegWriteValue(std::string_view path, std::optional<std::string_view> value);

// True on the Windows NT 6 generation; false elsewhere.
bool IsWindowsNT6();

}  // namespace morvale

#pragma once

// The process-wide diagnostic log: one thread-safe sink that appends GBK lines to the log file.
//
// Line format (one record per call, ended by "\n"; the text is written as given, so a text holding
// line breaks continues on the following lines):
//
//     2026-12-11 14:56:03.123 [Net] L0 text
//     2026-12-11 14:56:03.123 [Client] Warning text
//
// local date and time with milliseconds, the tag in brackets, then "L0", "L1" or "L2" for a level
// (levels outside 0..2 are clamped) or "Information", "Warning", "Error" or "Exception" for a message
// type, then the text. The file is opened (created with mode 0600: HTTP exchanges carry credentials)
// at the first line; a file that cannot be opened or written loses its lines without disturbing the
// caller, and opening is retried at most once a second.

#include <cstdio>
#include <string>
#include <string_view>

namespace morvale {

enum class LogMsgType { Information, Warning, Error, Exception };

void LogLine(std::string_view tag, int level, std::string_view text);
void LogLine(std::string_view tag, LogMsgType type, std::string_view text);

// Replaces the log file (default: LogFilePath of the application's paths); the next line opens it.
void SetLogFilePath(std::string path);

// Copies every line to stream as well (nullptr: no copy). The stream must outlive its use here.
void SetLogEcho(std::FILE* stream);

// Moves a log larger than 2097152 bytes aside to path + ".2" (replacing an older one); true when it
// did. A sink writing to that path reopens it at its next line.
bool RotateLog(const std::string& path);

// A plain line for the developer watching the process (window tear-down steps such as
// "TLoadForm::FormClose"): written to standard error, not to the log file.
void DebugOutput(std::string_view text);

}  // namespace morvale

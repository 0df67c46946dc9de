#pragma once

// The application's fixed names, the locations of its files, its version, the single settings store
// and the autostart entry.
//
// The settings, log and update files take the executable's name with the extension changed. They live
// next to the executable when its directory is writable; otherwise the settings go to
// $XDG_CONFIG_HOME/morvale and the log and update description to $XDG_STATE_HOME/morvale. A non-empty
// MORVALE_HOME holds all three instead. The location is looked up at every call, and directories
// outside the executable's own are created (mode 0700) on the way.

#include <string>

namespace morvale {

class TFileConfig;

std::string AppName();   // "morvale"
std::string AppTitle();  // "MorVale在线客服" (GBK)
std::string HomePageUrl();

std::string ExePath();  // full path of the running executable
std::string ExeDir();   // its directory, without a trailing "/"

std::string ConfigPath();     // the settings file, "<name>.ini"
std::string LogFilePath();    // the diagnostic log, "<name>.cdd"
std::string UpdateIniPath();  // the update description, "<name>.up.ini"
std::string RunKeyPath();     // "HKCU\Software\Microsoft\Windows\CurrentVersion\Run\"

// Replaces the text from the last "." of the file name (not of a directory) with extension, or
// appends it when the name has none.
std::string ChangeFileExt(const std::string& path, const std::string& extension);

std::string VersionText();  // FileVersionText of the executable: "major.minor.release.build"
int VersionNumber(int i);   // 0 major, 1 minor, 2 release, 3 build; 0 when missing

// The program's settings store, opened on ConfigPath by OpenSettings at the first call.
TFileConfig& Config();

// Points store at path with the built-in defaults, loads it (forced, defaults merged) and, when there
// was no file yet, writes one from the defaults at once. A file that exists but cannot be read is left
// as it is; the program then runs on the defaults.
void OpenSettings(TFileConfig& store, const std::string& path);

// Brings the autostart entry (RunKeyPath + AppTitle, the executable's path + " /hide") in line with
// general/AutoStart: written when wanted and missing or different, deleted when not wanted.
// Failures are ignored: autostart is a convenience.
void ApplyAutoStart();
void ApplyAutoStart(const TFileConfig& config, const std::string& exePath);

}  // namespace morvale

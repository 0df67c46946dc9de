#pragma once

// The application's fixed names, the locations of its files and its version.
//
// The settings, log and update files take the executable's name with the extension changed. They live
// next to the executable when its directory is writable; otherwise the settings go to
// $XDG_CONFIG_HOME/morvale and the log and update description to $XDG_STATE_HOME/morvale. A non-empty
// MORVALE_HOME holds all three instead. The location is looked up at every call, and directories
// outside the executable's own are created (mode 0700) on the way.

#include <string>

namespace morvale {

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

}  // namespace morvale

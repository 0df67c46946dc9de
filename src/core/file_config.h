#pragma once

// TFileConfig keeps an INI-style file in memory as sections of key/value pairs addressed by
// "section/key" paths. It keeps the order of first appearance and the comment lines in front of
// sections and entries, merges a built-in default text under the file's values, and re-reads the file
// only when its modification time changed. Not thread-safe: one owner thread uses it.

#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace morvale {

struct TFileConfigValue {
    std::string key;
    std::string value;    // trimmed when read from a file
    std::string comment;  // comment and blank lines in front of the entry, each ended by "\r\n"
    int index = 0;        // order of first appearance within the section
};

struct TFileConfigSection {
    std::string name;
    std::string comment;  // comment and blank lines in front of the header, each ended by "\r\n"
    std::map<std::string, TFileConfigValue> values;
    int index = 0;  // number of sections that existed when it was added
};

class TFileConfig {
  public:
    void SetFileName(std::string path) { fileName_ = std::move(path); }
    const std::string& FileName() const { return fileName_; }

    // The default contents come from the built-in text resource of that id (0: none).
    void SetDefaultResource(int id) { defaultResource_ = id; }

    // Re-reads the file (always with force, else only when its modification time changed) and, with
    // defaults, merges the default text under it. True when the file was read (or unchanged).
    bool Load(bool force, bool withDefaults);

    // Writes every named section and every named entry in order of first appearance, "key = value"
    // lines ending in "\r\n". A new file gets mode 0600. False when the file cannot be written; the
    // in-memory contents stay as they are.
    bool Save();

    // Parses text into the store; entries that exist already keep their values.
    void Parse(std::string_view text);

    std::string GetString(std::string_view path) const;
    int GetInt(std::string_view path) const;  // like atol: leading blanks, sign, digits; else 0
    bool Exists(std::string_view path) const;
    void SetString(std::string_view path, std::string_view text);
    void SetInt(std::string_view path, int n);

    const std::map<std::string, TFileConfigSection>& Sections() const { return sections_; }

  private:
    const TFileConfigValue* Find(std::string_view path) const;

    std::string fileName_;
    std::optional<timespec> lastWriteTime_;
    int defaultResource_ = 0;
    std::map<std::string, TFileConfigSection> sections_;
};

}  // namespace morvale

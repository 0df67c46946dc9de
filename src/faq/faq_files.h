#pragma once

// The reply library's local files, all in the program's private temporary directory: the downloaded
// library of the signed-in operator and the reply editor's upload file.

#include <random>
#include <string>
#include <string_view>

#include "faq/faq_document.h"

namespace morvale {

// Where the library fetched from url is kept for the operator loginName: the temporary directory,
// loginName, "_", then the part of url after its last "/" (all of url without one). Path separators
// in the login name are replaced by "_", so the file always lies inside the directory. Empty when the
// temporary directory is not available.
std::string FAQLocalPath(std::string_view loginName, std::string_view url);

// A library file read for a reply window: the text (every line followed by CR LF, as the editor is
// loaded from it) and the tree read from that text.
struct FAQLoadResult {
    std::string text;
    FAQReadResult document;
    bool ok() const { return document.ok(); }
    const std::string& error() const { return document.error; }
};
FAQLoadResult LoadFAQFile(const std::string& path);

// The editor's upload file: its name ("ife" + ddhhnnsszzz + a random number from 1 to 655358 + ".xml")
// is chosen when the editor is created, the file is rewritten at each save and deleted with the editor.
class FAQUploadFile {
  public:
    FAQUploadFile();
    ~FAQUploadFile();
    FAQUploadFile(const FAQUploadFile&) = delete;
    FAQUploadFile& operator=(const FAQUploadFile&) = delete;

    const std::string& path() const { return path_; }

    // Writes the document whole (created or truncated, mode 0600, never through a link); false when
    // the file could not be written completely.
    bool Write(std::string_view document);

    // The file name for a given time and random number.
    static std::string FileName(double now, unsigned random);

  private:
    std::mt19937 random_;
    std::string path_;
};

}  // namespace morvale

#include "faq/faq_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "core/text_utils.h"

namespace morvale {

std::string FAQLocalPath(std::string_view loginName, std::string_view url) {
    const std::string dir = TempPath();
    if (dir.empty()) return {};
    std::string name(loginName);
    for (char& ch : name) {
        if (ch == '/' || ch == '\\' || ch == '\0') ch = '_';
    }
    const std::size_t slash = url.rfind('/');
    std::string file(slash == std::string_view::npos ? url : url.substr(slash + 1));
    for (char& ch : file) {
        if (ch == '\\' || ch == '\0') ch = '_';
    }
    return dir + name + "_" + file;
}

FAQLoadResult LoadFAQFile(const std::string& path) {
    FAQLoadResult result;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        result.document.error = "cannot open " + path;
        return result;
    }
    std::ostringstream raw;
    raw << in.rdbuf();
    const std::string bytes = raw.str();
    // Lines end at CR LF, LF or a lone CR; each line is followed by CR LF again.
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t end = bytes.find_first_of("\r\n", i);
        if (end == std::string::npos) end = bytes.size();
        result.text.append(bytes, i, end - i);
        result.text += "\r\n";
        if (end < bytes.size() && bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n')
            ++end;
        i = end + 1;
    }
    result.document = ReadFAQDocument(result.text);
    return result;
}

FAQUploadFile::FAQUploadFile() : random_(std::random_device{}()) {
    std::uniform_int_distribution<unsigned> pick(1, 655358);
    const std::string dir = TempPath();
    if (!dir.empty()) path_ = dir + FileName(NowDateTime(), pick(random_));
}

FAQUploadFile::~FAQUploadFile() {
    if (!path_.empty()) unlink(path_.c_str());
}

std::string FAQUploadFile::FileName(double now, unsigned random) {
    return "ife" + FormatDateTime("ddhhnnsszzz", now) + std::to_string(random) + ".xml";
}

bool FAQUploadFile::Write(std::string_view document) {
    if (path_.empty()) return false;
    const int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    std::size_t done = 0;
    while (done < document.size()) {
        const ssize_t n = write(fd, document.data() + done, document.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return close(fd) == 0 && done == document.size();
}

}  // namespace morvale

#include "net/ms_multi_part_form_data_stream.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace morvale {
namespace {

constexpr std::string_view kCrLf = "\r\n";

std::string PartHeader(std::string_view name) {
    return "Content-Disposition: form-data; name=\"" + std::string(name) + "\"";
}

}  // namespace

TMsMultiPartFormDataStream::TMsMultiPartFormDataStream() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    boundary_ = MakeBoundary(local, static_cast<int>(ms));
    contentType_ = "multipart/form-data; boundary=" + boundary_;
}

TMsMultiPartFormDataStream::TMsMultiPartFormDataStream(std::string boundary)
    : boundary_(std::move(boundary)), contentType_("multipart/form-data; boundary=" + boundary_) {}

std::string TMsMultiPartFormDataStream::MakeBoundary(const std::tm& local, int milliseconds) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%02d%02d%02d%02d%02d%02d%03d", local.tm_mon + 1, local.tm_mday,
                  local.tm_year % 100, local.tm_hour, local.tm_min, local.tm_sec, milliseconds % 1000);
    return std::string(27, '-') + digits;
}

void TMsMultiPartFormDataStream::AddFormField(std::string_view name, std::string_view value) {
    if (firstPart_) {
        firstPart_ = false;
    } else {
        bytes_ += kCrLf;
    }
    bytes_ += "--";
    bytes_ += boundary_;
    bytes_ += kCrLf;
    bytes_ += PartHeader(name);
    bytes_ += kCrLf;
    bytes_ += kCrLf;
    bytes_ += value;
}

bool TMsMultiPartFormDataStream::AddFile(std::string_view fieldName, const std::string& fileName,
                                         std::string_view contentType, std::string* error) {
    std::string content;
    std::FILE* file = std::fopen(fileName.c_str(), "rb");
    bool ok = file != nullptr;
    if (ok) {
        char buf[65536];
        size_t n = 0;
        while ((n = std::fread(buf, 1, sizeof buf, file)) > 0) content.append(buf, n);
        ok = std::ferror(file) == 0;
    }
    const int err = errno;
    if (file != nullptr) std::fclose(file);
    if (!ok) {
        if (error != nullptr) *error = "Cannot open file \"" + fileName + "\". " + std::strerror(err);
        return false;
    }
    bytes_ += kCrLf;
    bytes_ += "--";
    bytes_ += boundary_;
    bytes_ += kCrLf;
    bytes_ += PartHeader(fieldName);
    bytes_ += "; filename=\"" + fileName + "\"";
    bytes_ += kCrLf;
    bytes_ += "Content-Type: " + std::string(contentType) + "\r\n\r\n";
    bytes_ += content;
    return true;
}

void TMsMultiPartFormDataStream::PrepareStreamForDispatch() {
    bytes_ += kCrLf;
    bytes_ += "--";
    bytes_ += boundary_;
    bytes_ += "--";
    bytes_ += kCrLf;
    position_ = 0;
    firstPart_ = true;
}

}  // namespace morvale

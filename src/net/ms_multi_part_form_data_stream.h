#pragma once

// An in-memory multipart/form-data body: plain fields, file parts and the closing boundary, with a
// boundary of 27 hyphens and the local time of construction ("mmddyyhhnnsszzz").

#include <ctime>
#include <string>
#include <string_view>

namespace morvale {

class TMsMultiPartFormDataStream {
  public:
    TMsMultiPartFormDataStream();
    explicit TMsMultiPartFormDataStream(std::string boundary);

    // The boundary for a local date-time and its milliseconds.
    static std::string MakeBoundary(const std::tm& local, int milliseconds);

    void AddFormField(std::string_view name, std::string_view value);
    // Appends a file part with the file's bytes; false (and `error` set, nothing appended) when the
    // file cannot be read.
    bool AddFile(std::string_view fieldName, const std::string& fileName, std::string_view contentType,
                 std::string* error);
    void PrepareStreamForDispatch();

    const std::string& Boundary() const { return boundary_; }
    const std::string& ContentType() const { return contentType_; }
    const std::string& Bytes() const { return bytes_; }
    std::size_t Position() const { return position_; }

  private:
    bool firstPart_ = true;
    std::string boundary_;
    std::string contentType_;
    std::string bytes_;
    std::size_t position_ = 0;
};

}  // namespace morvale

#pragma once

// Faults injected into the answers of chosen endpoints, for tests and demos of the workbench's
// failure handling. A fault matches a request whose path ends with its path (and whose query holds
// every name=value pair of its query part) and is used up after `count` requests (-1: until cleared).

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "json.h"

namespace morvale::sim {

enum class FaultKind {
    Delay,      // answer normally after delay_ms
    Silence,    // hold the request without a byte for delay_ms (default 120 s), then drop it
    Status,     // HTTP status (default 500) with a body
    Empty,      // 200 with an empty body
    Close,      // drop the connection without any reply
    Truncate,   // headers and part of the body, then drop the connection
    Garbage,    // 200 with random bytes
    Malformed,  // 200 with broken frames
    Gzip,       // the normal reply gzip-encoded
    BadGzip,    // Content-Encoding gzip on a body that is not gzip
    Raw,        // the given status, body (body_hex for any bytes) and content type
};

struct Fault {
    std::string path, query;
    FaultKind kind = FaultKind::Status;
    int count = 1;
    int delayMs = 0;
    int status = 500;
    std::string body;
    std::string contentType = "text/html; charset=GBK";
    int size = 256;
};

class FaultTable {
  public:
    // Parses {path, kind, count, delay_ms, status, body, body_hex, content_type, size}.
    static std::optional<Fault> FromJson(const Json& j, std::string* error);
    void Add(Fault f);
    void Clear();
    // The first matching fault, counted as used.
    std::optional<Fault> Take(const std::string& path, const std::string& query);
    Json List();

  private:
    std::mutex mu_;
    std::vector<Fault> faults_;
};

const char* FaultKindName(FaultKind kind);

}  // namespace morvale::sim

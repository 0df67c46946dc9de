#pragma once

// An independent, strict reader of the service's framed replies for the tests: every frame must be
// complete and its length exact, so that a framing fault fails the test instead of being skipped.

#include <string>
#include <string_view>
#include <vector>

namespace morvale::sim::test {

struct TestFrame {
    int type = 0;
    long seq = 0;
    std::string payload;
    std::vector<std::string> fields;  // payload cut at every 0x06 (empty payload: none)
};

struct FrameReadResult {
    std::vector<TestFrame> frames;
    std::string error;  // empty when the whole body is well-formed frames (text outside them allowed)
};

inline FrameReadResult ReadFrames(std::string_view body) {
    FrameReadResult r;
    size_t pos = 0;
    while ((pos = body.find('\x02', pos)) != std::string_view::npos) {
        TestFrame f;
        long nums[3] = {0, 0, 0};
        size_t p = pos + 1;
        for (long& n : nums) {
            size_t start = p;
            while (p < body.size() && body[p] >= '0' && body[p] <= '9') n = n * 10 + (body[p++] - '0');
            if (p == start || p >= body.size() || body[p] != '\x05') {
                r.error = "bad header at " + std::to_string(pos);
                return r;
            }
            ++p;
        }
        f.type = static_cast<int>(nums[0]);
        f.seq = nums[1];
        size_t len = static_cast<size_t>(nums[2]);
        if (p + len >= body.size() || body[p + len] != '\x03') {
            r.error = "length mismatch at " + std::to_string(pos);
            return r;
        }
        f.payload = std::string(body.substr(p, len));
        if (f.payload.find('\x03') != std::string::npos) {
            r.error = "0x03 inside payload";
            return r;
        }
        for (size_t i = 0; i < f.payload.size(); ++i) {
            bool crlf = f.payload[i] == '\r' && i + 1 < f.payload.size() && f.payload[i + 1] == '\n';
            if (crlf)
                ++i;
            else if (f.payload[i] == '\r' || f.payload[i] == '\n') {
                r.error = "line break other than CR LF inside a payload";
                return r;
            }
        }
        if (!f.payload.empty()) {
            size_t s = 0;
            for (;;) {
                size_t e = f.payload.find('\x06', s);
                f.fields.push_back(f.payload.substr(s, e == std::string::npos ? std::string::npos : e - s));
                if (e == std::string::npos) break;
                s = e + 1;
            }
        }
        r.frames.push_back(std::move(f));
        pos = p + len + 1;
    }
    return r;
}

}  // namespace morvale::sim::test

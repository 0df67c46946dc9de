// The path every reply body takes before the parser: optional gzip decoding, line normalisation to
// CR LF, then ParsePackets. The first input byte chooses whether the rest is treated as gzip.

#include <cstdint>
#include <string>
#include <string_view>

#include "net/base_net_thread.h"
#include "protocol/in_packet.h"
#include "quiet_log.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string plain;
    if (data[0] & 1) {
        const auto unzipped = morvale::Gunzip(body);
        if (!unzipped) return 0;
        if (unzipped->size() > morvale::kMaxReplyBytes) __builtin_trap();
        plain = *unzipped;
    } else {
        plain = body;
    }
    const std::string text = morvale::JoinReplyLines(morvale::SplitReplyLines(plain));
    // After normalisation every CR is followed by LF and every LF preceded by CR.
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) __builtin_trap();
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) __builtin_trap();
    }
    morvale::ParsePackets(text);
    return 0;
}

// Any reply body, however broken, must yield the packets before the fault and never read outside it.

#include <cstdint>
#include <string_view>

#include "protocol/in_packet.h"
#include "quiet_log.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto packets = morvale::ParsePackets(std::string_view(reinterpret_cast<const char*>(data), size));
    std::size_t bodyBytes = 0;
    for (const auto& packet : packets) bodyBytes += packet->body.size();
    // A packet's body is a slice of the input, so together they can never exceed it.
    if (bodyBytes > size) __builtin_trap();
    return 0;
}

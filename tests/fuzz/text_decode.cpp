// Percent, Base64 and GBK decoding of server-controlled text.

#include <cstdint>
#include <string_view>

#include "core/gbk.h"
#include "core/text_utils.h"
#include "quiet_log.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto decoded = morvale::UrlDecode(text); decoded && decoded->size() > size) __builtin_trap();
    if (morvale::Base64Decode(text).size() > size) __builtin_trap();
    morvale::GbkToUtf8(text);
    return 0;
}

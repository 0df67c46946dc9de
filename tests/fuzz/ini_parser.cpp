// Settings files are edited by hand; any text must parse, and what was parsed must survive a save
// and a reload unchanged (but for line breaks inside a value, which are saved as blanks so that a
// value can never forge an entry).

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/file_config.h"
#include "quiet_log.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    morvale::TFileConfig parsed;
    parsed.Parse(std::string_view(reinterpret_cast<const char*>(data), size));

    static const std::string path = "/tmp/morvale-fuzz-ini-" + std::to_string(getpid()) + ".ini";
    unlink(path.c_str());
    parsed.SetFileName(path);
    if (!parsed.Save()) return 0;
    morvale::TFileConfig reloaded;
    reloaded.SetFileName(path);
    reloaded.Load(true, false);

    for (const auto& [sectionName, section] : parsed.Sections()) {
        // Unnamed sections are not written; a "/" in the name makes the path ambiguous.
        if (sectionName.empty() || sectionName.find('/') != std::string::npos) continue;
        for (const auto& [key, value] : section.values) {
            if (key.empty()) continue;
            const std::string keyPath = sectionName + "/" + key;
            std::string expected = parsed.GetString(keyPath);
            std::replace(expected.begin(), expected.end(), '\r', ' ');
            if (reloaded.GetString(keyPath) != expected) __builtin_trap();
        }
    }
    return 0;
}

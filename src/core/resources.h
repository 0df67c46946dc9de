#pragma once

// Texts built into the program, looked up by resource id.

#include <optional>
#include <string_view>

namespace morvale {

// The default contents of the settings file (sections, keys and defaults of the settings table).
inline constexpr int kDefaultSettingsResource = 5;

std::optional<std::string_view> TextResource(int id);

}  // namespace morvale

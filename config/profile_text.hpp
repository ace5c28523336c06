// Reading values out of the text of an INI settings file, with the rules of the Windows
// profile-file reader that the settings rely on. Pure: bytes in, values out.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace config {

// Texts longer than this are cut, as the profile reader's 256-byte buffer does.
inline constexpr std::size_t profileTextLimit = 255;

// The value of `key` in `section`, or nothing when the key is not there.
std::optional<std::string> findProfileValue(std::string_view iniText, std::string_view section,
                                            std::string_view key);

// A key's text as the profile reader gives it: the value, or the default when the key is
// absent, cut to 255 characters.
std::string profileStringValue(std::string_view iniText, std::string_view section,
                               std::string_view key, std::string_view defaultText);

// A key's integer as the profile reader gives it: the default when the key is absent or
// empty, otherwise the value's conversion (see integerFromProfileText).
unsigned int profileIntValue(std::string_view iniText, std::string_view section,
                             std::string_view key, int defaultValue);

// Optional sign, then decimal digits (or hexadecimal after 0x); stops at the first other
// character; no digits give 0; wraps modulo 2^32.
unsigned int integerFromProfileText(std::string_view text);

} // namespace config

// Searching bytes without regard to the case of the ASCII letters.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

// The first occurrence of pattern in text, comparing A-Z and a-z as equal and every other
// byte (those above 127 included) exactly.
std::optional<std::size_t> findNoCase(std::string_view text, std::string_view pattern);

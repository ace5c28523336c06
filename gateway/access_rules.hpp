// Which request paths the backend may be asked for.
#pragma once

#include "config/settings.hpp"

#include <string_view>

// True when an entry of the comma list is a prefix of path (ASCII case ignored). Runs of
// commas are one separator, leading and trailing commas are ignored, and nothing is
// trimmed: a blank after a comma belongs to the next entry.
bool matchesAnyPrefix(std::string_view path, std::string_view list);

// The Allowed list must admit the path and the Forbidden list must not refuse it; an empty
// list (by its first character) takes no part.
bool isPathAdmitted(std::string_view path, const ForwardSettings& settings);

// The request path as the access rules and the backend see it.
#pragma once

#include <string>
#include <string_view>

// Runs of '/' become one, and '.' and '..' segments are resolved ('..' never climbs above
// the root), so "//admin", "/./admin" and "/x/../admin" all read "/admin". The empty path
// stays empty.
std::string normalizePath(std::string_view path);

// Putting decoded request texts back on a request line safely.
#pragma once

#include <string>
#include <string_view>

// The web server hands over the path decoded; every byte outside the unreserved and
// sub-delimiter characters, ':', '@' and '/' becomes %XX again ('%' included).
std::string encodePath(std::string_view path);

// The query arrives undecoded: only bytes that cannot stand on a request line (controls,
// blank, DEL and bytes above 127) become %XX.
std::string encodeQuery(std::string_view query);

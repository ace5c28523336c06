#include "forwarding/text_search.hpp"

namespace {

unsigned char lowerAscii(char c) {
    unsigned char byte = static_cast<unsigned char>(c);
    return (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned char>(byte + 32) : byte;
}

bool equalNoCaseAt(std::string_view text, std::size_t at, std::string_view pattern) {
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (lowerAscii(text[at + i]) != lowerAscii(pattern[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

std::optional<std::size_t> findNoCase(std::string_view text, std::string_view pattern) {
    if (pattern.size() > text.size()) {
        return std::nullopt;
    }
    for (std::size_t at = 0; at + pattern.size() <= text.size(); ++at) {
        if (equalNoCaseAt(text, at, pattern)) {
            return at;
        }
    }
    return std::nullopt;
}

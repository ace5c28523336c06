#include "forwarding/path_encoding.hpp"

namespace {

bool isPathCharacter(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
        return true;
    }
    constexpr std::string_view others = "-._~!$&'()*+,;=:@/";
    return others.find(static_cast<char>(c)) != std::string_view::npos;
}

bool isQueryCharacter(unsigned char c) {
    return c > 0x20 && c < 0x7F;
}

template <typename Keep> std::string percentEncode(std::string_view text, Keep keep) {
    static constexpr char hexDigits[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size());
    for (char byte : text) {
        unsigned char c = static_cast<unsigned char>(byte);
        if (keep(c)) {
            encoded.push_back(byte);
        } else {
            encoded.push_back('%');
            encoded.push_back(hexDigits[c >> 4]);
            encoded.push_back(hexDigits[c & 0x0F]);
        }
    }
    return encoded;
}

} // namespace

std::string encodePath(std::string_view path) {
    return percentEncode(path, isPathCharacter);
}

std::string encodeQuery(std::string_view query) {
    return percentEncode(query, isQueryCharacter);
}

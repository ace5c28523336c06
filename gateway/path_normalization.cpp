#include "gateway/path_normalization.hpp"

namespace {

// Drops the last segment of the output, with the '/' before it.
void removeLastSegment(std::string& output) {
    std::size_t slash = output.rfind('/');
    output.erase(slash == std::string::npos ? 0 : slash);
}

} // namespace

std::string normalizePath(std::string_view path) {
    std::string collapsed;
    collapsed.reserve(path.size());
    for (char c : path) {
        if (c != '/' || collapsed.empty() || collapsed.back() != '/') {
            collapsed.push_back(c);
        }
    }

    // The dot-segment removal of URI references, step by step on the input's front.
    std::string_view input = collapsed;
    std::string output;
    output.reserve(input.size());
    while (!input.empty()) {
        if (input.starts_with("../")) {
            input.remove_prefix(3);
        } else if (input.starts_with("./")) {
            input.remove_prefix(2);
        } else if (input.starts_with("/./")) {
            input.remove_prefix(2);
        } else if (input == "/.") {
            input = "/";
        } else if (input.starts_with("/../")) {
            input.remove_prefix(3);
            removeLastSegment(output);
        } else if (input == "/..") {
            input = "/";
            removeLastSegment(output);
        } else if (input == "." || input == "..") {
            input = {};
        } else {
            std::size_t next = input.find('/', input.front() == '/' ? 1 : 0);
            std::string_view segment = input.substr(0, next);
            output.append(segment);
            input.remove_prefix(segment.size());
        }
    }
    return output;
}

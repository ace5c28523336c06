#include "gateway/access_rules.hpp"

#include "forwarding/text_search.hpp"

bool matchesAnyPrefix(std::string_view path, std::string_view list) {
    while (!list.empty()) {
        std::size_t comma = list.find(',');
        std::string_view entry = list.substr(0, comma);
        list.remove_prefix(comma == std::string_view::npos ? list.size() : comma + 1);
        if (!entry.empty() && path.size() >= entry.size() &&
            findNoCase(path.substr(0, entry.size()), entry) == 0) {
            return true;
        }
    }
    return false;
}

bool isPathAdmitted(std::string_view path, const ForwardSettings& settings) {
    if (!settings.allowedList.empty() && !matchesAnyPrefix(path, settings.allowedList)) {
        return false;
    }
    return settings.forbiddenList.empty() || !matchesAnyPrefix(path, settings.forbiddenList);
}

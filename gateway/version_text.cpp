#include "gateway/version_text.hpp"

#include "platform/platform.hpp"

std::string readVersionText(const std::string& modulePath) {
    return platform::fileVersionText(modulePath).substr(0, 255);
}

#include "config/settings.hpp"

#include <optional>
#include <string_view>

namespace {

constexpr const char* settingsSection = "Forward";

// Everything from the last "." of the file name is replaced; a "." in a directory name is
// no extension (an executable without one must not read a file named after its folder).
std::string pathWithExtension(const std::string& modulePath, std::string_view extension) {
    std::size_t nameStart = modulePath.find_last_of("/\\");
    nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
    std::size_t dot = modulePath.rfind('.');
    std::size_t stemEnd = (dot == std::string::npos || dot < nameStart) ? modulePath.size() : dot;
    return modulePath.substr(0, stemEnd).append(extension);
}

// "a.b.c.d" with four decimal parts of at most 255: the address itself, no lookup needed.
std::optional<std::uint32_t> dottedIPv4Address(std::string_view text) {
    std::uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (text.empty() || text.front() != '.') {
                return std::nullopt;
            }
            text.remove_prefix(1);
        }
        std::size_t digits = 0;
        std::uint32_t value = 0;
        while (digits < text.size() && digits < 4 && text[digits] >= '0' && text[digits] <= '9') {
            value = value * 10 + static_cast<std::uint32_t>(text[digits] - '0');
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) {
            return std::nullopt;
        }
        text.remove_prefix(digits);
        address = (address << 8) | value;
    }
    return text.empty() ? std::optional<std::uint32_t>(address) : std::nullopt;
}

// The configured backend's address; the loopback address when it cannot be resolved.
std::uint32_t targetAddressFor(const std::string& targetHost) {
    if (targetHost.empty() || targetHost == "localhost") {
        return loopbackAddress;
    }
    if (std::optional<std::uint32_t> address = dottedIPv4Address(targetHost)) {
        return *address;
    }
    return platform::resolveHostAddress(targetHost).value_or(loopbackAddress);
}

} // namespace

std::string settingsPathFor(const std::string& modulePath) {
    return pathWithExtension(modulePath, ".ini");
}

std::string logPathFor(const std::string& modulePath) {
    return pathWithExtension(modulePath, ".txt");
}

void loadSettings(const std::string& modulePath, ForwardSettings& settings) {
    settings = ForwardSettings{};
    const std::string settingsPath = settingsPathFor(modulePath);
    settings.logPath = logPathFor(modulePath);

    settings.targetHost =
        platform::profileString(settingsSection, "TargetServer", "", settingsPath);
    settings.targetAddress = targetAddressFor(settings.targetHost);
    if (settings.targetAddress == 0) {
        settings.targetAddress = loopbackAddress;
    }
    if (settings.targetAddress == loopbackAddress) {
        settings.targetHost = "127.0.0.1";
    }

    // The integers keep only their low bits, as the record's fields are that wide.
    settings.targetPort = static_cast<std::uint16_t>(
        platform::profileInt(settingsSection, "TargetPort", 8080, settingsPath));
    settings.timeoutSeconds = static_cast<std::int32_t>(
        platform::profileInt(settingsSection, "Timeout", 300, settingsPath));
    settings.allowedList = platform::profileString(settingsSection, "Allowed", "/", settingsPath);
    settings.forbiddenList =
        platform::profileString(settingsSection, "Forbidden", "", settingsPath);
    settings.logEnabled =
        static_cast<std::uint8_t>(platform::profileInt(settingsSection, "Log", 0, settingsPath));
    settings.diagnosticsEnabled = static_cast<std::uint8_t>(
        platform::profileInt(settingsSection, "Diagnostics", 1, settingsPath));
}

// The settings of one gateway process: where the backend is, how long to wait for it, which
// paths it may be asked for, and whether a log is written.
#pragma once

#include "platform/platform.hpp"

#include <cstdint>
#include <memory>
#include <string>

inline constexpr std::uint32_t loopbackAddress = 0x7F000001; // 127.0.0.1

struct ForwardSettings {
    std::string targetHost = "127.0.0.1";          // named in the forwarded Host header
    std::uint32_t targetAddress = loopbackAddress; // host byte order
    std::uint16_t targetPort = 8080;
    std::string allowedList = "/";     // comma list of admitted path prefixes
    std::string forbiddenList;         // comma list of refused path prefixes
    std::int32_t timeoutSeconds = 300; // for the backend's reply
    std::uint8_t logEnabled = 0;
    std::uint8_t diagnosticsEnabled = 1; // the /~~echo, /~~info and /~~target pages
    std::string logPath;
    std::unique_ptr<platform::AppendFile> logStream; // open only while a request is handled
};

// The settings file's path beside the executable: its file name's extension replaced by
// ".ini" (appended when the file name has none).
std::string settingsPathFor(const std::string& modulePath);
// The log file's path, likewise with ".txt".
std::string logPathFor(const std::string& modulePath);

// Fills every field from the defaults and the settings file beside the executable, and
// resolves the backend host once.
void loadSettings(const std::string& modulePath, ForwardSettings& settings);

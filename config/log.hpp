// The request trace appended to the log file beside the executable. Every writer does
// nothing when the stream is null (the log is off, or could not be opened).
#pragma once

#include "platform/platform.hpp"

#include <optional>
#include <string>
#include <string_view>

// "Tue Mar 05 09:07:03 2024": fixed English names, whatever the locale.
std::string formatLogTime(const std::optional<platform::CalendarTime>& time);

// The separator line and the current UTC time.
void logBanner(platform::AppendFile* stream);
// A step of the exchange, as "\t<text>\n".
void logLine(std::string_view text, platform::AppendFile* stream);
// An error with the platform's own error number: the format's "%s" stays empty and its
// "%ld" takes the code.
void logError(const char* format, long code, platform::AppendFile* stream);
// The reply went back to the client.
void logReplySent(platform::AppendFile* stream);

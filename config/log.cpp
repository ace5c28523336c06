#include "config/log.hpp"

#include <cstdio>

std::string formatLogTime(const std::optional<platform::CalendarTime>& time) {
    static constexpr const char* weekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (!time || time->weekday < 0 || time->weekday > 6 || time->month < 0 || time->month > 11) {
        return {};
    }
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %04d", weekdays[time->weekday],
                  months[time->month], time->day, time->hour, time->minute, time->second,
                  time->year);
    return text;
}

void logBanner(platform::AppendFile* stream) {
    if (stream == nullptr) {
        return;
    }
    stream->append("------------------------ LOG ------------------------\n");
    stream->append(formatLogTime(platform::utcNow()) + "\n");
}

void logLine(std::string_view text, platform::AppendFile* stream) {
    if (stream == nullptr) {
        return;
    }
    std::string line;
    line.reserve(text.size() + 2);
    line.append("\t").append(text).append("\n");
    stream->append(line);
}

void logError(const char* format, long code, platform::AppendFile* stream) {
    if (stream == nullptr) {
        return;
    }
    char line[256];
    int length = std::snprintf(line, sizeof line - 1, format, "", code);
    if (length < 0) {
        return;
    }
    std::size_t size = static_cast<std::size_t>(length) < sizeof line - 2
                           ? static_cast<std::size_t>(length)
                           : sizeof line - 2;
    line[size] = '\n';
    stream->append(std::string_view(line, size + 1));
}

void logReplySent(platform::AppendFile* stream) {
    if (stream != nullptr) {
        stream->append("Reply sent back to browser\n");
    }
}

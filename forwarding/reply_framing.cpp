// Where a backend reply ends (HTTP/1.0 framing): after its header and Content-Length body
// bytes, after the header alone when it can have no body, or at the backend's close.
#include "forwarding/text_search.hpp"
#include "gateway/request_handler.hpp"

#include <climits>

namespace {

// The end of the header: the first empty line, with CR LF or bare LF line ends. Returns the
// header's length with that empty line and the offset of the last header line's LF.
struct HeaderEnd {
    std::size_t length = 0;
    std::size_t lastLineFeed = 0;
};

std::optional<HeaderEnd> findHeaderEnd(std::string_view reply) {
    for (std::size_t lineFeed = reply.find('\n'); lineFeed != std::string_view::npos;
         lineFeed = reply.find('\n', lineFeed + 1)) {
        std::string_view rest = reply.substr(lineFeed + 1);
        if (rest.starts_with("\n")) {
            return HeaderEnd{lineFeed + 2, lineFeed};
        }
        if (rest.starts_with("\r\n")) {
            return HeaderEnd{lineFeed + 3, lineFeed};
        }
    }
    return std::nullopt;
}

// "HTTP/1.0 404 Not Found" gives 404; 0 when the line has no three-digit code.
int statusCodeOf(std::string_view reply) {
    std::size_t blank = reply.find(' ');
    if (blank == std::string_view::npos || reply.size() < blank + 4) {
        return 0;
    }
    int code = 0;
    for (std::size_t i = blank + 1; i < blank + 4; ++i) {
        if (reply[i] < '0' || reply[i] > '9') {
            return 0;
        }
        code = code * 10 + (reply[i] - '0');
    }
    return code;
}

bool isInterimStatus(int code) {
    return code == 100 || code == 102 || code == 103;
}

bool hasNoBody(int code, bool headRequest) {
    return headRequest || (code >= 100 && code < 200) || code == 204 || code == 304;
}

} // namespace

ReplyHeader RequestHandler::scanReplyHeader(std::string_view reply) {
    ReplyHeader header;
    std::optional<HeaderEnd> end = findHeaderEnd(reply);
    if (!end) {
        return header;
    }
    header.headerLength = end->length;
    header.statusCode = statusCodeOf(reply.substr(0, reply.find('\n')));

    // The name must follow a line feed directly: "X-Content-Length" and "Content-Length :"
    // are other headers. Of two Content-Length lines the first counts.
    constexpr std::string_view name = "\nContent-Length:";
    std::string_view lines = reply.substr(0, end->lastLineFeed + 1);
    std::optional<std::size_t> found = findNoCase(lines, name);
    if (!found) {
        return header;
    }
    std::size_t i = *found + name.size();
    while (i < lines.size() &&
           (lines[i] == ' ' || lines[i] == '\t' || lines[i] == '\r' || lines[i] == '\n')) {
        ++i;
    }
    header.lengthKind = ReplyHeader::Length::Invalid;
    if (i < lines.size() && lines[i] == '+') {
        ++i;
    }
    std::int64_t value = 0;
    std::size_t digits = 0;
    for (; i < lines.size() && lines[i] >= '0' && lines[i] <= '9'; ++i, ++digits) {
        value = value * 10 + (lines[i] - '0');
        if (value > INT32_MAX) {
            return header; // with the header it could not be counted
        }
    }
    if (digits == 0 || value + static_cast<std::int64_t>(header.headerLength) > INT32_MAX) {
        return header;
    }
    header.lengthKind = ReplyHeader::Length::Present;
    header.contentLength = value;
    return header;
}

ReplyProgress RequestHandler::assessReply(std::string_view received, bool headRequest,
                                          bool connectionClosed) {
    using State = ReplyProgress::State;
    const State unfinished = connectionClosed ? State::ClosedEarly : State::Incomplete;
    std::size_t start = 0;
    for (;;) {
        std::string_view reply = received.substr(start);
        ReplyHeader header = scanReplyHeader(reply);
        if (header.headerLength == 0) {
            return {unfinished, start, 0};
        }
        if (isInterimStatus(header.statusCode)) {
            start += header.headerLength; // the reply after it is the reply
            continue;
        }
        if (hasNoBody(header.statusCode, headRequest)) {
            return {State::Complete, start, header.headerLength};
        }
        switch (header.lengthKind) {
        case ReplyHeader::Length::Invalid:
            return {State::BadReply, start, 0};
        case ReplyHeader::Length::Present: {
            std::size_t length =
                header.headerLength + static_cast<std::size_t>(header.contentLength);
            if (reply.size() >= length) {
                return {State::Complete, start, length};
            }
            return {unfinished, start, 0, start + length};
        }
        case ReplyHeader::Length::Absent:
            break;
        }
        // Without a length the body runs until the backend closes the connection.
        if (connectionClosed) {
            return {State::Complete, start, reply.size()};
        }
        return {State::Incomplete, start, 0};
    }
}

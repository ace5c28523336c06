// Rebuilding the client's request as one HTTP/1.0 request for the backend (or for the echo
// page) from the server variables and the body on standard input.
#include "forwarding/header_map.hpp"
#include "forwarding/path_encoding.hpp"
#include "gateway/path_normalization.hpp"
#include "gateway/request_handler.hpp"

#include <algorithm>
#include <climits>
#include <string_view>

namespace {

constexpr std::size_t inputChunkSize = 64 * 1024;

// CONTENT_LENGTH read as the C library's atol would: leading white space, a sign, digits up
// to the first other character; no digits give 0. Saturates instead of overflowing.
std::int64_t parseContentLength(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min<std::int64_t>(value * 10 + (text[i] - '0'), INT64_MAX / 10);
    }
    return negative ? -value : value;
}

// A method is one token: a blank or a control byte in it would break the request line.
bool isUsableMethod(std::string_view method) {
    return std::none_of(method.begin(), method.end(), [](char c) {
        unsigned char byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7F;
    });
}

// A value with a line end in it would start a header line of the client's choosing.
bool isSafeHeaderValue(std::string_view value) {
    return value.find_first_of("\r\n") == std::string_view::npos;
}

} // namespace

RequestHandler::BodyFraming RequestHandler::requestBodyFraming() {
    BodyFraming framing;
    std::optional<std::string> contentLength = getVariable("CONTENT_LENGTH");
    if (!contentLength) {
        // A chunked upload reaches a CGI program de-chunked, without a length.
        framing.toEnd = getVariable("HTTP_TRANSFER_ENCODING").has_value();
        return framing;
    }
    std::int64_t length = parseContentLength(*contentLength);
    framing.valid = length >= INT32_MIN && length <= INT32_MAX;
    framing.length = std::max<std::int64_t>(length, 0);
    return framing;
}

// Appends the request body to `into`: the announced length, or the whole input for a
// chunked upload. False when the input ends before the announced length.
bool RequestHandler::appendBody(const BodyFraming& framing, std::string& into) {
    bodyConsumed_ = true;
    std::int64_t remaining = framing.toEnd ? INT32_MAX : framing.length;
    // Room for an announced length at once (up to a bound, so that a length announced but
    // never sent costs only address space); a chunked upload grows as it arrives.
    std::int64_t room = framing.toEnd ? (1 << 20) : std::min<std::int64_t>(remaining, 64 << 20);
    into.reserve(into.size() + static_cast<std::size_t>(room));
    while (remaining > 0) {
        std::size_t chunk = static_cast<std::size_t>(
            std::min<std::int64_t>(remaining, static_cast<std::int64_t>(inputChunkSize)));
        std::size_t filled = into.size();
        into.resize(filled + chunk);
        int delivered = readInput(std::span<char>(into.data() + filled, chunk));
        into.resize(filled + static_cast<std::size_t>(std::max(delivered, 0)));
        if (delivered <= 0) {
            return framing.toEnd;
        }
        remaining -= delivered;
    }
    return !framing.toEnd; // a chunked upload larger than one request can carry
}

void RequestHandler::discardUnreadBody() {
    if (bodyConsumed_) {
        return;
    }
    bodyConsumed_ = true;
    BodyFraming framing = requestBodyFraming();
    std::int64_t remaining = framing.toEnd ? INT64_MAX : framing.length;
    char sink[inputChunkSize];
    while (remaining > 0) {
        std::size_t chunk = static_cast<std::size_t>(
            std::min<std::int64_t>(remaining, static_cast<std::int64_t>(sizeof sink)));
        int delivered = readInput(std::span<char>(sink, chunk));
        if (delivered <= 0) {
            return;
        }
        remaining -= delivered;
    }
}

std::optional<std::string> RequestHandler::requestPath() {
    std::optional<std::string> pathInfo = getVariable("PATH_INFO");
    if (pathInfo) {
        *pathInfo = normalizePath(*pathInfo);
    }
    return pathInfo;
}

std::optional<std::string> RequestHandler::buildRequest(RequestKind kind) {
    std::string method = "GET";
    std::optional<std::string> path = std::string("/");
    std::optional<std::string> query;
    BodyFraming framing;
    if (kind != RequestKind::TargetTest) {
        framing = requestBodyFraming();
        std::optional<std::string> requestMethod = getVariable("REQUEST_METHOD");
        if (!framing.valid || !requestMethod || !isUsableMethod(*requestMethod)) {
            return std::nullopt;
        }
        method = std::move(*requestMethod);
        path = requestPath();
        query = getVariable("QUERY_STRING");
        if (query && query->empty()) {
            query.reset();
        }
    }

    // A chunked upload is read first: its length goes into the header. A body of announced
    // length is read straight into the request after the header.
    std::string chunkedBody;
    if (framing.toEnd && !appendBody(framing, chunkedBody)) {
        return std::nullopt;
    }
    const std::size_t bodyLength =
        framing.toEnd ? chunkedBody.size() : static_cast<std::size_t>(framing.length);

    // 1. The request line.
    std::string request = method;
    request.append(" ").append(path ? encodePath(*path) : "/");
    if (query) {
        request.append("?").append(encodeQuery(*query));
    }
    request.append(" HTTP/1.0\r\n");

    // 2. The header lines, in table order.
    for (const HeaderMapRow& row : headerMap) {
        std::string_view variable = row.variableName;
        std::optional<std::string> value;
        if (variable == "CONTENT_LENGTH") {
            // The length actually sent, also for a chunked upload that came without one.
            if (bodyLength > 0) {
                value = std::to_string(bodyLength);
            }
        } else if (variable == "HTTP_TRANSFER_ENCODING") {
            continue; // the body goes out as plain bytes framed by Content-Length
        } else if ((variable == "CONTENT_TYPE" && bodyLength == 0) ||
                   (variable == "SERVER_NAME" && kind != RequestKind::Echo)) {
            continue;
        } else {
            value = getVariable(row.variableName);
        }
        if (value && isSafeHeaderValue(*value)) {
            request.append(row.headerName).append(": ").append(*value).append("\r\n");
        }
    }

    // 3. The backend's own Host line: the backend is named, not the host the client asked.
    if (kind != RequestKind::Echo) {
        request.append("Host: ").append(settings_->targetHost);
        if (settings_->targetPort != 80) {
            request.append(":").append(std::to_string(settings_->targetPort));
        }
        request.append("\r\n");
    }

    // 4. The empty line, then the body.
    request.append("\r\n");
    if (request.size() + bodyLength > INT32_MAX) {
        return std::nullopt;
    }
    if (framing.toEnd) {
        request.append(chunkedBody);
    } else if (bodyLength > 0 && !appendBody(framing, request)) {
        return std::nullopt;
    }
    return request;
}

// The dispatch of the one request and the gateway's own replies.
#include "gateway/request_handler.hpp"

#include "config/log.hpp"
#include "gateway/access_rules.hpp"
#include "gateway/path_normalization.hpp"

int RequestHandler::readInput(std::span<char>) {
    return 0;
}

int RequestHandler::writeOutput(std::string_view) {
    return 0;
}

std::optional<std::string> RequestHandler::getVariable(const char*) {
    return std::nullopt;
}

void RequestHandler::sendHtml(std::string_view statusText, std::string_view body) {
    sendLocalReply(statusText, "text/html", body);
}

void RequestHandler::sendText(std::string_view statusText, std::string_view body) {
    sendLocalReply(statusText, "text/plain", body);
}

// Five writes: status line, content type, length, empty line, body. The request body is
// read to its end first: a web server may drop the reply of a program that left it unread.
void RequestHandler::sendLocalReply(std::string_view statusText, std::string_view contentType,
                                    std::string_view body) {
    discardUnreadBody();
    std::string line;
    line.append("HTTP/1.0 ").append(statusText).append("\r\n");
    writeOutput(line);
    line.assign("Content-Type: ").append(contentType).append("\r\n");
    writeOutput(line);
    line.assign("Content-length: ").append(std::to_string(body.size())).append("\r\n");
    writeOutput(line);
    writeOutput("\r\n");
    writeOutput(body);
}

void RequestHandler::handleRequest(std::string_view versionText) {
    int status = 200;
    DispatchMode mode = DispatchMode::Forward;
    if (settings_->logEnabled != 0) {
        settings_->logStream = platform::AppendFile::open(settings_->logPath);
        logBanner(settings_->logStream.get());
    }

    // The diagnostic paths are compared as received; the access rules see the path as the
    // backend will, with its empty and dot segments resolved.
    if (std::optional<std::string> pathInfo = getVariable("PATH_INFO")) {
        mode = diagnosticMode(*pathInfo);
        if (mode == DispatchMode::Forward &&
            !isPathAdmitted(normalizePath(*pathInfo), *settings_)) {
            status = 403;
        }
    }

    switch (mode) {
    case DispatchMode::Echo:
        sendEchoPage();
        break;
    case DispatchMode::Info:
        sendInfoPage(versionText);
        break;
    case DispatchMode::Forward:
    case DispatchMode::TargetTest: {
        const bool targetTest = mode == DispatchMode::TargetTest;
        std::optional<std::string> request;
        std::optional<std::string> reply;
        if (status == 200) {
            request = buildRequest(targetTest ? RequestKind::TargetTest : RequestKind::Forward);
            if (!request || request->empty()) {
                status = 500;
            }
        }
        if (status == 200) {
            reply = exchange(*request);
            if (targetTest) {
                sendTargetTestPage(reply && !reply->empty());
            } else if (!reply || reply->empty()) {
                status = 500;
            }
        }
        if (status == 200) {
            logReplySent(settings_->logStream.get());
            if (!targetTest) {
                writeOutput(*reply);
            }
        } else if (status == 403) {
            sendHtml("403 Forbidden", "<H2>Forbidden</H2>");
        } else {
            sendHtml("500 Internal Error", "<H2>CGI Error</H2>");
        }
        break;
    }
    }
    settings_->logStream.reset();
}

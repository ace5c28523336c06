// The three pages an administrator can ask the gateway itself for: the rebuilt request,
// the gateway's version and CGI identity, and whether the backend answers.
#include "gateway/request_handler.hpp"

#include <array>

namespace {

struct DiagnosticPath {
    std::string_view path;
    DispatchMode mode;
};

constexpr std::array<DiagnosticPath, 3> diagnosticPaths = {{
    {"/~~echo", DispatchMode::Echo},
    {"/~~info", DispatchMode::Info},
    {"/~~target", DispatchMode::TargetTest},
}};

// The server variables go into HTML; they must not be able to add markup to it.
std::string escapeHtml(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            escaped.append("&amp;");
            break;
        case '<':
            escaped.append("&lt;");
            break;
        case '>':
            escaped.append("&gt;");
            break;
        case '"':
            escaped.append("&quot;");
            break;
        case '\'':
            escaped.append("&#39;");
            break;
        default:
            escaped.push_back(c);
        }
    }
    return escaped;
}

} // namespace

DispatchMode RequestHandler::diagnosticMode(const std::string& pathInfo) const {
    if (settings_->diagnosticsEnabled == 0) {
        return DispatchMode::Forward;
    }
    for (const DiagnosticPath& diagnostic : diagnosticPaths) {
        if (pathInfo == diagnostic.path) {
            return diagnostic.mode;
        }
    }
    return DispatchMode::Forward;
}

void RequestHandler::sendEchoPage() {
    std::optional<std::string> request = buildRequest(RequestKind::Echo);
    if (!request || request->empty()) {
        sendText("500 Internal Error", "Test failed");
        return;
    }
    // The page is the request as text, so it ends at a NUL byte of the body.
    std::string_view text = *request;
    sendText("200 OK", text.substr(0, text.find('\0')));
}

void RequestHandler::sendInfoPage(std::string_view versionText) {
    auto shown = [this](const char* name) {
        std::optional<std::string> value = getVariable(name);
        return value ? escapeHtml(*value) : std::string("n/a");
    };
    std::string page = "<HTML><HEAD><TITLE>Information</TITLE></HEAD>\r\n<BODY>\r\n"
                       "<H2>Product information</H2><BR>\r\n";
    page.append("<B>Script name:</B> ").append(shown("SCRIPT_NAME"));
    page.append(" (").append(escapeHtml(versionText)).append(")<BR>\r\n");
    page.append("<B>Server software:</B> ").append(shown("SERVER_SOFTWARE")).append("<BR>\r\n");
    page.append("<B>Server protocol:</B> ").append(shown("SERVER_PROTOCOL")).append("<BR>\r\n");
    page.append("<B>Gateway interface:</B> ").append(shown("GATEWAY_INTERFACE")).append("<BR>\r\n");
    page.append("<BR>\r\n</BODY></HTML>\r\n");
    sendHtml("200 OK", page);
}

void RequestHandler::sendTargetTestPage(bool reached) {
    sendHtml("200 OK", reached ? "<HTML><HEAD><TITLE>Target (backend) test</TITLE><HEAD><BODY>"
                                 "<B>Good:</B> target server reached.</BODY></HTML>"
                               : "<HTML><HEAD><TITLE>Target (backend) test</TITLE><HEAD><BODY>"
                                 "<B>Bad:</B> target server not reached.</BODY></HTML>");
}

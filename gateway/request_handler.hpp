// The work on the one request of a gateway process. RequestHandler reaches the web server
// only through its virtual operations; CgiRequestHandler binds them to the CGI process, and
// tests bind them to memory.
#pragma once

#include "config/settings.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

enum class DispatchMode { Forward, Echo, Info, TargetTest };
enum class RequestKind { Forward, Echo, TargetTest };

// Where the header of a backend reply ends and what it says about the body.
struct ReplyHeader {
    std::size_t headerLength = 0; // 0 while the header is not complete
    enum class Length { Absent, Present, Invalid } lengthKind = Length::Absent;
    std::int64_t contentLength = 0; // when Present
    int statusCode = 0;             // 0 when the status line does not give one
};

// How far a reply that is still arriving has got.
struct ReplyProgress {
    enum class State { Incomplete, Complete, ClosedEarly, BadReply } state = State::Incomplete;
    std::size_t start = 0;        // interim replies before it are dropped
    std::size_t length = 0;       // when Complete
    std::size_t expectedSize = 0; // when Incomplete: all bytes the reply will take, if known
};

class RequestHandler {
  public:
    explicit RequestHandler(ForwardSettings* settings) : settings_(settings) {}
    virtual ~RequestHandler() = default;
    RequestHandler(const RequestHandler&) = delete;
    RequestHandler& operator=(const RequestHandler&) = delete;

    // Reads at most buffer.size() bytes of the request body; returns the count delivered.
    virtual int readInput(std::span<char> buffer);
    // Writes data towards the client; returns the count written.
    virtual int writeOutput(std::string_view data);
    // A server variable, or nothing when it is not set.
    virtual std::optional<std::string> getVariable(const char* name);

    // Handles the one request: dispatch, forwarding or a page of its own, one reply.
    void handleRequest(std::string_view versionText);

    // The HTTP/1.0 request rebuilt from the server variables and the body; nothing when
    // none can be built.
    std::optional<std::string> buildRequest(RequestKind kind);
    // Sends the request to the backend and collects its complete reply; nothing on failure.
    std::optional<std::string> exchange(std::string_view request);

    static ReplyHeader scanReplyHeader(std::string_view reply);
    // Decides whether the bytes received so far hold the whole reply.
    static ReplyProgress assessReply(std::string_view received, bool headRequest,
                                     bool connectionClosed);

    void sendHtml(std::string_view statusText, std::string_view body);
    void sendText(std::string_view statusText, std::string_view body);

  private:
    struct BodyFraming {
        bool valid = true;       // false: a length that no request can carry
        bool toEnd = false;      // chunked upload: the body is the whole input
        std::int64_t length = 0; // otherwise the announced length (0: no body)
    };
    BodyFraming requestBodyFraming();
    bool appendBody(const BodyFraming& framing, std::string& into);
    void discardUnreadBody();
    std::optional<std::string> requestPath();

    void sendLocalReply(std::string_view statusText, std::string_view contentType,
                        std::string_view body);
    void sendEchoPage();
    void sendInfoPage(std::string_view versionText);
    void sendTargetTestPage(bool reached);
    DispatchMode diagnosticMode(const std::string& pathInfo) const;

    ForwardSettings* settings_;
    bool bodyConsumed_ = false;
};

class CgiRequestHandler : public RequestHandler {
  public:
    using RequestHandler::RequestHandler;
    int readInput(std::span<char> buffer) override;
    int writeOutput(std::string_view data) override;
    std::optional<std::string> getVariable(const char* name) override;
};

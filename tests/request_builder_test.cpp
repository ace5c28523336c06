#include "fake_request_handler.hpp"

#include <gtest/gtest.h>

namespace {

using Variables = std::map<std::string, std::string>;

struct BuildCase {
    int line;
    RequestKind kind;
    Variables variables;
    std::string input;
    std::optional<std::string> expected; // nothing: no request is built
};

std::optional<std::string> build(const BuildCase& c, std::uint16_t port = 8080,
                                 std::size_t readLimit = 65536) {
    ForwardSettings settings;
    settings.targetPort = port;
    FakeRequestHandler handler(&settings, c.variables, c.input, readLimit);
    return handler.buildRequest(c.kind);
}

const Variables get = {{"REQUEST_METHOD", "GET"}};

Variables with(Variables base, const Variables& more) {
    for (const auto& [name, value] : more) {
        base[name] = value;
    }
    return base;
}

const std::string host = "Host: 127.0.0.1:8080\r\n";

} // namespace

TEST(BuildRequest, Cases) {
    const BuildCase cases[] = {
        {__LINE__, RequestKind::Forward,
         with(get, {{"PATH_INFO", "/a/b"}, {"QUERY_STRING", "x=1"}, {"HTTP_ACCEPT", "*/*"}}), "",
         "GET /a/b?x=1 HTTP/1.0\r\nAccept: */*\r\n" + host + "\r\n"},
        {__LINE__, RequestKind::Forward, with(get, {{"QUERY_STRING", ""}}), "",
         "GET / HTTP/1.0\r\n" + host + "\r\n"},
        {__LINE__, RequestKind::Forward, with(get, {{"PATH_INFO", ""}}), "",
         "GET  HTTP/1.0\r\n" + host + "\r\n"},
        {__LINE__, RequestKind::Forward, with(get, {{"HTTP_ACCEPT", ""}}), "",
         "GET / HTTP/1.0\r\nAccept: \r\n" + host + "\r\n"},
        {__LINE__, RequestKind::Forward, Variables{{"PATH_INFO", "/"}}, "", std::nullopt},
        {__LINE__, RequestKind::Forward,
         with(get, {{"REMOTE_USER", "alice"}, {"HTTP_X_ANYTHING", "1"}}), "",
         "GET / HTTP/1.0\r\nAuthorization: alice\r\n" + host + "\r\n"},
        // Table order, whatever the order of the variables.
        {__LINE__, RequestKind::Forward,
         with(get, {{"HTTP_COOKIE", "c=1"},
                    {"HTTP_USER_AGENT", "ua"},
                    {"HTTP_AUTHORIZATION", "Basic x"},
                    {"SERVER_NAME", "client.example"}}),
         "",
         "GET / HTTP/1.0\r\nProxy-Authorization: Basic x\r\nUser-Agent: ua\r\nCookie: c=1\r\n" +
             host + "\r\n"},
        // Body: Content-Length before Content-Type, the body after the empty line.
        {__LINE__,
         RequestKind::Forward,
         {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "5"}, {"CONTENT_TYPE", "text/plain"}},
         "hello",
         "POST / HTTP/1.0\r\nContent-Length: 5\r\nContent-Type: text/plain\r\n" + host +
             "\r\nhello"},
        // No body: no Content-Length or Content-Type line, nothing read.
        {__LINE__, RequestKind::Forward,
         with(get, {{"CONTENT_LENGTH", "0"}, {"CONTENT_TYPE", "text/plain"}}), "junk",
         "GET / HTTP/1.0\r\n" + host + "\r\n"},
        {__LINE__, RequestKind::Forward,
         with(get, {{"CONTENT_LENGTH", "abc"}, {"CONTENT_TYPE", "text/plain"}}), "junk",
         "GET / HTTP/1.0\r\n" + host + "\r\n"},
        {__LINE__, RequestKind::Forward,
         with(get, {{"CONTENT_LENGTH", "-5"}, {"CONTENT_TYPE", "text/plain"}}), "junk",
         "GET / HTTP/1.0\r\n" + host + "\r\n"},
        {__LINE__, RequestKind::Forward, with(get, {{"CONTENT_LENGTH", "2147483648"}}), "",
         std::nullopt},
        // The input ends before the announced length.
        {__LINE__,
         RequestKind::Forward,
         {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "10"}},
         "short",
         std::nullopt},
        // Chunked upload: the whole input, with its real length at Content-Length's place.
        {__LINE__,
         RequestKind::Forward,
         {{"REQUEST_METHOD", "POST"},
          {"HTTP_TRANSFER_ENCODING", "chunked"},
          {"CONTENT_TYPE", "a/b"}},
         "chunked body",
         "POST / HTTP/1.0\r\nContent-Length: 12\r\nContent-Type: a/b\r\n" + host +
             "\r\nchunked body"},
        // Decoded path and raw query made safe for the request line.
        {__LINE__, RequestKind::Forward,
         with(get, {{"PATH_INFO", "/a b/caf\xC3\xA9/%/?#\r\nX: 1"},
                    {"QUERY_STRING", "q=a b\x01\xFF&r=%41"}}),
         "",
         "GET /a%20b/caf%C3%A9/%25/%3F%23%0D%0AX:%201?q=a%20b%01%FF&r=%41 HTTP/1.0\r\n" + host +
             "\r\n"},
        {__LINE__, RequestKind::Forward, with(get, {{"PATH_INFO", "/-._~!$&'()*+,;=:@"}}), "",
         "GET /-._~!$&'()*+,;=:@ HTTP/1.0\r\n" + host + "\r\n"},
        {__LINE__, RequestKind::Forward, with(get, {{"PATH_INFO", "//x/./y/../z"}}), "",
         "GET /x/z HTTP/1.0\r\n" + host + "\r\n"},
        // A value with a line end is not written; a method with a blank builds nothing.
        {__LINE__, RequestKind::Forward,
         with(get, {{"HTTP_ACCEPT", "a\r\nX-Injected: 1"}, {"HTTP_FROM", "f"}}), "",
         "GET / HTTP/1.0\r\nFrom: f\r\n" + host + "\r\n"},
        {__LINE__, RequestKind::Forward, Variables{{"REQUEST_METHOD", "GET / HTTP/1.0\r\n"}}, "",
         std::nullopt},
        // Echo: the client's Host at its row, no backend host line.
        {__LINE__, RequestKind::Echo,
         with(get,
              {{"SERVER_NAME", "www.example"}, {"HTTP_ACCEPT", "*/*"}, {"HTTP_USER_AGENT", "ua"}}),
         "", "GET / HTTP/1.0\r\nAccept: */*\r\nHost: www.example\r\nUser-Agent: ua\r\n\r\n"},
        // The backend probe: GET /, the client's headers but no body rows, the backend host.
        {__LINE__,
         RequestKind::TargetTest,
         {{"REQUEST_METHOD", "POST"},
          {"PATH_INFO", "/~~target"},
          {"QUERY_STRING", "a=1"},
          {"CONTENT_LENGTH", "4"},
          {"CONTENT_TYPE", "a/b"},
          {"HTTP_ACCEPT", "*/*"},
          {"SERVER_NAME", "s"}},
         "body",
         "GET / HTTP/1.0\r\nAccept: */*\r\n" + host + "\r\n"},
    };
    for (const BuildCase& c : cases) {
        EXPECT_EQ(build(c), c.expected) << "case at line " << c.line;
    }
}

TEST(BuildRequest, HostLineNamesTheBackendWithoutPort80) {
    BuildCase c{__LINE__, RequestKind::Forward, get, "",
                "GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n"};
    EXPECT_EQ(build(c, 80), c.expected);
}

TEST(BuildRequest, LargeBodyArrivingInSmallReadsIsReadWhole) {
    std::string body(3 * 1024 * 1024 + 7, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) {
        body[i] = static_cast<char>(i * 7);
    }
    BuildCase c{__LINE__,
                RequestKind::Forward,
                {{"REQUEST_METHOD", "PUT"}, {"CONTENT_LENGTH", std::to_string(body.size())}},
                body,
                {}};
    std::optional<std::string> request = build(c, 8080, 4096);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->substr(request->size() - body.size()), body);
    EXPECT_NE(request->find("\r\nContent-Length: 3145735\r\n"), std::string::npos);
}

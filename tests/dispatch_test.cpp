#include "fake_request_handler.hpp"
#include "scripted_backend.hpp"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

using Variables = std::map<std::string, std::string>;

std::string localReply(const std::string& status, const std::string& type,
                       const std::string& body) {
    return "HTTP/1.0 " + status + "\r\nContent-Type: " + type +
           "\r\nContent-length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

const std::string forbiddenReply = localReply("403 Forbidden", "text/html", "<H2>Forbidden</H2>");
const std::string errorReply = localReply("500 Internal Error", "text/html", "<H2>CGI Error</H2>");
const std::string reachedPage =
    "<HTML><HEAD><TITLE>Target (backend) test</TITLE><HEAD><BODY><B>Good:</B> "
    "target server reached.</BODY></HTML>";
const std::string unreachedPage =
    "<HTML><HEAD><TITLE>Target (backend) test</TITLE><HEAD><BODY><B>Bad:</B> "
    "target server not reached.</BODY></HTML>";

struct Outcome {
    std::string output;
    int writeCount;
    std::size_t inputConsumed;
};

Outcome handle(const Variables& variables, unsigned short port, const std::string& input,
               ForwardSettings& settings) {
    settings.targetPort = port;
    FakeRequestHandler handler(&settings, variables, input);
    handler.handleRequest("6.8");
    return {handler.output, handler.writeCount, handler.inputConsumed()};
}

Outcome handle(const Variables& variables, unsigned short port, const std::string& input = {}) {
    ForwardSettings settings;
    return handle(variables, port, input, settings);
}

std::string infoPage(const std::string& script, const std::string& software,
                     const std::string& protocol, const std::string& interface) {
    return "<HTML><HEAD><TITLE>Information</TITLE></HEAD>\r\n<BODY>\r\n<H2>Product "
           "information</H2><BR>\r\n"
           "<B>Script name:</B> " +
           script + " (6.8)<BR>\r\n<B>Server software:</B> " + software +
           "<BR>\r\n<B>Server protocol:</B> " + protocol + "<BR>\r\n<B>Gateway interface:</B> " +
           interface + "<BR>\r\n<BR>\r\n</BODY></HTML>\r\n";
}

} // namespace

TEST(Dispatch, BackendReplyIsCopiedInOneWrite) {
    const std::string reply = "HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\na\0b"s;
    ScriptedBackend backend({sendBytes(reply)});
    Outcome outcome = handle({{"REQUEST_METHOD", "GET"}, {"PATH_INFO", "/x"}}, backend.port());
    EXPECT_EQ(outcome.output, reply);
    EXPECT_EQ(outcome.writeCount, 1);
}

TEST(Dispatch, LocalRepliesAreFiveWrites) {
    ForwardSettings settings;
    settings.forbiddenList = "/private";
    Outcome refused = handle({{"REQUEST_METHOD", "GET"}, {"PATH_INFO", "/private/x"}}, closedPort(),
                             "", settings);
    EXPECT_EQ(refused.output, forbiddenReply);
    EXPECT_EQ(refused.writeCount, 5);
    Outcome down = handle({{"REQUEST_METHOD", "GET"}, {"PATH_INFO", "/x"}}, closedPort());
    EXPECT_EQ(down.output, errorReply);
    EXPECT_EQ(down.writeCount, 5);
    EXPECT_EQ(handle({{"PATH_INFO", "/x"}}, closedPort()).output, errorReply); // no method
}

TEST(Dispatch, UnreadBodyIsReadBeforeALocalReply) {
    const std::string body(300000, 'x');
    ForwardSettings settings;
    settings.forbiddenList = "/private";
    Variables post = {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", std::to_string(body.size())}};
    for (const char* path : {"/private", "/~~info", "/~~target"}) {
        Variables variables = post;
        variables["PATH_INFO"] = path;
        EXPECT_EQ(handle(variables, closedPort(), body + "extra", settings).inputConsumed,
                  body.size())
            << path;
    }
    Variables chunked = {{"PATH_INFO", "/private"}, {"HTTP_TRANSFER_ENCODING", "chunked"}};
    EXPECT_EQ(handle(chunked, closedPort(), body, settings).inputConsumed, body.size());
}

TEST(Dispatch, EchoPage) {
    struct Case {
        int line;
        Variables variables;
        std::string input;
        std::string expected;
    } cases[] = {
        {__LINE__,
         {{"REQUEST_METHOD", "GET"},
          {"PATH_INFO", "/~~echo"},
          {"QUERY_STRING", "a=1"},
          {"SERVER_NAME", "www"}},
         "",
         localReply("200 OK", "text/plain", "GET /~~echo?a=1 HTTP/1.0\r\nHost: www\r\n\r\n")},
        {__LINE__,
         {{"REQUEST_METHOD", "POST"},
          {"PATH_INFO", "/~~echo"},
          {"CONTENT_LENGTH", "4"},
          {"CONTENT_TYPE", "t/p"}},
         "body",
         localReply("200 OK", "text/plain",
                    "POST /~~echo HTTP/1.0\r\nContent-Length: 4\r\nContent-Type: t/p\r\n\r\nbody")},
        {__LINE__,
         {{"PATH_INFO", "/~~echo"}},
         "",
         localReply("500 Internal Error", "text/plain", "Test failed")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(handle(c.variables, closedPort(), c.input).output, c.expected)
            << "case at line " << c.line;
    }
}

TEST(Dispatch, InfoPage) {
    Variables all = {{"PATH_INFO", "/~~info"},
                     {"SCRIPT_NAME", "/app"},
                     {"SERVER_SOFTWARE", "Apache"},
                     {"SERVER_PROTOCOL", "HTTP/1.1"},
                     {"GATEWAY_INTERFACE", "CGI/1.1"}};
    EXPECT_EQ(handle(all, closedPort()).output,
              localReply("200 OK", "text/html", infoPage("/app", "Apache", "HTTP/1.1", "CGI/1.1")));
    EXPECT_EQ(handle({{"PATH_INFO", "/~~info"}, {"SERVER_SOFTWARE", ""}}, closedPort()).output,
              localReply("200 OK", "text/html", infoPage("n/a", "", "n/a", "n/a")));
    std::string longName(5000, 'n');
    EXPECT_EQ(handle({{"PATH_INFO", "/~~info"}, {"SCRIPT_NAME", "<a href='x'>&\"" + longName}},
                     closedPort())
                  .output,
              localReply("200 OK", "text/html",
                         infoPage("&lt;a href=&#39;x&#39;&gt;&amp;&quot;" + longName, "n/a", "n/a",
                                  "n/a")));
}

TEST(Dispatch, DiagnosticPathsAreExact) {
    ForwardSettings settings;
    settings.forbiddenList = "/~~";
    for (const char* path : {"/~~ECHO", "/~~echo/", "/~~info?x", "/~~targets"}) {
        EXPECT_EQ(
            handle({{"REQUEST_METHOD", "GET"}, {"PATH_INFO", path}}, closedPort(), "", settings)
                .output,
            forbiddenReply)
            << path;
    }
}

TEST(Dispatch, DiagnosticsOffForwardsThePagesPaths) {
    ForwardSettings settings;
    settings.diagnosticsEnabled = 0;
    settings.forbiddenList = "/~~info";
    EXPECT_EQ(
        handle({{"REQUEST_METHOD", "GET"}, {"PATH_INFO", "/~~info"}}, closedPort(), "", settings)
            .output,
        forbiddenReply);
    ScriptedBackend backend({sendBytes("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok")});
    EXPECT_EQ(
        handle({{"REQUEST_METHOD", "GET"}, {"PATH_INFO", "/~~echo"}}, backend.port(), "", settings)
            .output,
        "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok");
    EXPECT_EQ(backend.received(), "GET /~~echo HTTP/1.0\r\nHost: 127.0.0.1:" +
                                      std::to_string(backend.port()) + "\r\n\r\n");
}

TEST(Dispatch, TargetTestPage) {
    ScriptedBackend notFound({sendBytes("HTTP/1.0 404 Not Found\r\nContent-Length: 1\r\n\r\nx")});
    Variables target = {{"PATH_INFO", "/~~target"}, {"HTTP_ACCEPT", "*/*"}};
    EXPECT_EQ(handle(target, notFound.port()).output,
              localReply("200 OK", "text/html", reachedPage));
    EXPECT_EQ(notFound.received(), "GET / HTTP/1.0\r\nAccept: */*\r\nHost: 127.0.0.1:" +
                                       std::to_string(notFound.port()) + "\r\n\r\n");
    EXPECT_EQ(handle(target, closedPort()).output,
              localReply("200 OK", "text/html", unreachedPage));
}

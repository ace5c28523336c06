#include "gateway/request_handler.hpp"

#include <gtest/gtest.h>

namespace {

using State = ReplyProgress::State;
using namespace std::string_literals;

struct FramingCase {
    int line;
    std::string received;
    bool head;
    bool closed;
    State state;
    std::string reply; // when Complete
};

const std::string ok5 = "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n";

} // namespace

TEST(ReplyFraming, Cases) {
    const FramingCase cases[] = {
        {__LINE__, ok5 + "hello", false, false, State::Complete, ok5 + "hello"},
        {__LINE__, ok5 + "hel", false, false, State::Incomplete, ""},
        {__LINE__, ok5 + "hel", false, true, State::ClosedEarly, ""},
        {__LINE__, ok5 + "hello!!", false, false, State::Complete, ok5 + "hello"},
        {__LINE__, "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n", false, false, State::Incomplete, ""},
        {__LINE__, "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n", false, true, State::ClosedEarly, ""},
        // Bare LF line ends, and a NUL in the header, do not hide its end.
        {__LINE__, "HTTP/1.0 200 OK\ncontent-length: 2\n\nhi", false, false, State::Complete,
         "HTTP/1.0 200 OK\ncontent-length: 2\n\nhi"},
        {__LINE__, "HTTP/1.0 200 OK\r\nX: a\0b\r\nContent-Length: 1\r\n\r\nz"s, false, false,
         State::Complete, "HTTP/1.0 200 OK\r\nX: a\0b\r\nContent-Length: 1\r\n\r\nz"s},
        // Content-Length 0: the header alone.
        {__LINE__, "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\nabc", false, false, State::Complete,
         "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n"},
        // Without a length the body runs to the backend's close.
        {__LINE__, "HTTP/1.0 200 OK\r\n\r\npart", false, false, State::Incomplete, ""},
        {__LINE__, "HTTP/1.0 200 OK\r\n\r\npart", false, true, State::Complete,
         "HTTP/1.0 200 OK\r\n\r\npart"},
        {__LINE__, "HTTP/1.0 200 OK\r\nContent-Length : 2\r\n\r\nabc", false, true, State::Complete,
         "HTTP/1.0 200 OK\r\nContent-Length : 2\r\n\r\nabc"},
        {__LINE__, "HTTP/1.0 200 OK\r\nX-Content-Length: 2\r\n\r\nabc", false, true,
         State::Complete, "HTTP/1.0 200 OK\r\nX-Content-Length: 2\r\n\r\nabc"},
        {__LINE__, "HTTP/1.0 200 OK\r\nCONTENT-LENGTH:\t2\r\nContent-Length: 9\r\n\r\nabc", false,
         false, State::Complete,
         "HTTP/1.0 200 OK\r\nCONTENT-LENGTH:\t2\r\nContent-Length: 9\r\n\r\nab"},
        // Lengths no reply can have.
        {__LINE__, "HTTP/1.0 200 OK\r\nContent-Length: x\r\n\r\n", false, false, State::BadReply,
         ""},
        {__LINE__, "HTTP/1.0 200 OK\r\nContent-Length: -1\r\n\r\n", false, false, State::BadReply,
         ""},
        {__LINE__, "HTTP/1.0 200 OK\r\nContent-Length: 2147483647\r\n\r\n", false, false,
         State::BadReply, ""},
        {__LINE__, "HTTP/1.0 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n", false, false,
         State::BadReply, ""},
        // No body whatever the length says.
        {__LINE__, ok5, true, false, State::Complete, ok5},
        {__LINE__, "HTTP/1.0 204 No Content\r\nContent-Length: 5\r\n\r\n", false, false,
         State::Complete, "HTTP/1.0 204 No Content\r\nContent-Length: 5\r\n\r\n"},
        {__LINE__, "HTTP/1.0 304 Not Modified\r\n\r\n", false, false, State::Complete,
         "HTTP/1.0 304 Not Modified\r\n\r\n"},
        {__LINE__, "HTTP/1.1 101 Switching Protocols\r\n\r\nxyz", false, false, State::Complete,
         "HTTP/1.1 101 Switching Protocols\r\n\r\n"},
        // Interim replies are dropped; the reply after them is the reply.
        {__LINE__,
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: x\r\n\r\n" + ok5 + "hello",
         false, false, State::Complete, ok5 + "hello"},
        {__LINE__, "HTTP/1.1 100 Continue\r\n\r\n", false, false, State::Incomplete, ""},
        {__LINE__, "HTTP/1.1 100 Continue\r\n\r\n", false, true, State::ClosedEarly, ""},
    };
    for (const FramingCase& c : cases) {
        ReplyProgress progress = RequestHandler::assessReply(c.received, c.head, c.closed);
        EXPECT_EQ(progress.state, c.state) << "case at line " << c.line;
        if (progress.state == State::Complete && c.state == State::Complete) {
            EXPECT_EQ(std::string(c.received).substr(progress.start, progress.length), c.reply)
                << "case at line " << c.line;
        }
    }
}

TEST(ReplyFraming, HeaderCompleteOnlyOnceItsEmptyLineHasArrived) {
    const std::string reply = ok5 + "hello";
    for (std::size_t cut = 0; cut < reply.size(); ++cut) {
        ReplyProgress progress = RequestHandler::assessReply(reply.substr(0, cut), false, false);
        EXPECT_EQ(progress.state, State::Incomplete) << "cut after " << cut << " bytes";
    }
    EXPECT_EQ(RequestHandler::scanReplyHeader(reply.substr(0, ok5.size() - 1)).headerLength, 0u);
    EXPECT_EQ(RequestHandler::scanReplyHeader(reply).headerLength, ok5.size());
    EXPECT_EQ(RequestHandler::scanReplyHeader(reply).contentLength, 5);
}

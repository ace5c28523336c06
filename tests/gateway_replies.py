"""The gateway's own replies, byte for byte, as the end-to-end suites expect them."""


def local_reply(status, content_type, body):
    return b"HTTP/1.0 %s\r\nContent-Type: %s\r\nContent-length: %d\r\n\r\n%s" % (
        status, content_type, len(body), body)


FORBIDDEN_REPLY = local_reply(b"403 Forbidden", b"text/html", b"<H2>Forbidden</H2>")
CGI_ERROR_REPLY = local_reply(b"500 Internal Error", b"text/html", b"<H2>CGI Error</H2>")
TARGET_PAGE = b"<HTML><HEAD><TITLE>Target (backend) test</TITLE><HEAD><BODY>%s</BODY></HTML>"
TARGET_REACHED = TARGET_PAGE % b"<B>Good:</B> target server reached."
TARGET_NOT_REACHED = TARGET_PAGE % b"<B>Bad:</B> target server not reached."

#include "fake_request_handler.hpp"
#include "gateway/access_rules.hpp"
#include "gateway/path_normalization.hpp"
#include "scripted_backend.hpp"

#include <gtest/gtest.h>

namespace {

// Whether handleRequest lets the path through to the backend (which is not there, so an
// admitted request ends in the 500 reply and a refused one in the 403 reply).
bool admitted(const char* allowed, const char* forbidden, const char* path) {
    ForwardSettings settings;
    settings.allowedList = allowed;
    settings.forbiddenList = forbidden;
    settings.targetPort = closedPort();
    FakeRequestHandler handler(&settings, {{"REQUEST_METHOD", "GET"}, {"PATH_INFO", path}});
    handler.handleRequest("6.8");
    return !handler.output.starts_with("HTTP/1.0 403 Forbidden\r\n");
}

} // namespace

TEST(AccessRules, Table) {
    struct Case {
        int line;
        const char* allowed;
        const char* forbidden;
        const char* path;
        bool admitted;
    } cases[] = {
        {__LINE__, "/", "", "/anything", true},
        {__LINE__, "/app,/static", "", "/APP/x", true},
        {__LINE__, "/app,/static", "", "/other", false},
        {__LINE__, "/app", "", "/application", true},
        {__LINE__, "/app, /static", "", "/static/a", false},
        {__LINE__, "/app,,/static", "", "/static/a", true},
        {__LINE__, ",/app,", "", "/app", true},
        {__LINE__, ",/app,", "", "/b", false},
        {__LINE__, ",", "", "/app", false},
        {__LINE__, "/", ",", "/app", true},
        {__LINE__, "/", "/admin", "/Admin/users", false},
        {__LINE__, "", "/x", "/y", true},
        {__LINE__, "", "/x", "/X/y", false},
        {__LINE__, "/", "", "", false},
        {__LINE__, "", "", "", true},
        {__LINE__, "/caf\xC3\xA9", "", "/CAF\xC3\xA9/x", true},
        {__LINE__, "/caf\xC3\xA9", "", "/caf\xC3\x89", false}, // only A-Z fold
        // The rules see the path with its empty and dot segments resolved.
        {__LINE__, "/", "/admin", "//admin", false},
        {__LINE__, "/", "/admin", "/./admin", false},
        {__LINE__, "/", "/admin", "/x/../admin", false},
        {__LINE__, "/", "/admin", "/../../admin/", false},
        {__LINE__, "/public", "", "/public/../secret", false},
        {__LINE__, "/public", "", "/public/./a//b", true},
        // The diagnostic paths are answered whatever the lists say.
        {__LINE__, ",", "/~~", "/~~info", true},
        {__LINE__, ",", "", "/~~INFO", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(admitted(c.allowed, c.forbidden, c.path), c.admitted)
            << "case at line " << c.line << ": Allowed=" << c.allowed
            << " Forbidden=" << c.forbidden << " path=" << testing::PrintToString(c.path);
    }
}

TEST(AccessRules, NoPathInfoIsNotChecked) {
    ForwardSettings settings;
    settings.allowedList = ",";
    settings.targetPort = closedPort();
    FakeRequestHandler handler(&settings, {{"REQUEST_METHOD", "GET"}});
    handler.handleRequest("6.8");
    EXPECT_TRUE(handler.output.starts_with("HTTP/1.0 500 Internal Error\r\n")) << handler.output;
}

TEST(PathNormalization, Table) {
    struct Case {
        const char* path;
        const char* normalized;
    } cases[] = {
        {"", ""},
        {"/", "/"},
        {"//", "/"},
        {"/a//b///c", "/a/b/c"},
        {"/./a", "/a"},
        {"/a/.", "/a/"},
        {"/a/..", "/"},
        {"/a/b/../c", "/a/c"},
        {"/..", "/"},
        {"/../../a", "/a"},
        {"/a/./b/./", "/a/b/"},
        {"/a/...", "/a/..."},
        {"/a/..b/.c", "/a/..b/.c"},
        {"a/../b", "/b"},
        {"/~~echo/..", "/"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(normalizePath(c.path), c.normalized) << testing::PrintToString(c.path);
    }
}

// URL parsing and escaping, redirect targets, and the FTP reply parsers.
#include <gtest/gtest.h>

#include "engine/error_codes.h"
#include "libs/network/transfer.h"
#include "runtime/runtime_state.h"

namespace qv {
namespace {

TEST(Url, ParsesSchemesLoginsPortsAndTypes) {
    struct Case {
        const char* url;
        bool upload;
        const char* proxy;
        int code;
        const char* host;
        int port;
        const char* path;
    };
    const Case cases[] = {
        {"http://example.com", false, "", 0, "example.com", 80, "/"},
        {"HTTP://h:8080/a/b?c", false, "", 0, "h", 8080, "/a/b?c"},
        {"ftp://u:p@h/f;type=A", false, "", 0, "h", 21, "/f"},
        {"http://h/x", false, "http://127.0.0.1:3128", 0, "127.0.0.1", 3128, "/x"},
        {"gopher://h/", false, "", ERR_UNKPROTOCOL, "", 0, ""},
        {"http://u:p@h/", false, "", ERR_BADURL, "", 0, ""},
        {"ftp://:p@h/", false, "", ERR_BADURL, "", 0, ""},
        {"ftp://u:@h/", false, "", ERR_BADURL, "", 0, ""},
        {"ftp://up@h/", false, "", ERR_BADURL, "", 0, ""},
        {"ftp://h/file;type=x", false, "", ERR_BADURL, "", 0, ""},
        {"http://h:x/", false, "", ERR_BADURL, "", 0, ""},
        {"http://h:70000/", false, "", ERR_BADURL, "", 0, ""},
        // An HTTP path's control bytes are escaped in the request target; a host's and an FTP
        // path's cannot be sent.
        {"http://h/a\r\nX-Injected: 1", false, "", 0, "h", 80, "/a\r\nX-Injected: 1"},
        {"http://h\r\nX: 1/a", false, "", ERR_BADURL, "", 0, ""},
        {"ftp://h/f\r\ndele x", false, "", ERR_BADURL, "", 0, ""},
        {"ftp://u\n:p@h/f", false, "", ERR_BADURL, "", 0, ""},
        {"http://h/", true, "", ERR_WRONGUSAGE, "", 0, ""},
        {"ftp://h/", false, "http://p", ERR_WRONGUSAGE, "", 0, ""},
        {"http://h/", false, "socks://p", ERR_WRONGUSAGE, "", 0, ""},
    };
    for (const Case& c : cases) {
        ParsedUrl u;
        ASSERT_EQ(ParseUrl(c.url, c.upload, c.proxy, &u), c.code) << c.url;
        if (c.code != 0) continue;
        EXPECT_EQ(u.host, c.host) << c.url;
        EXPECT_EQ(u.port, c.port) << c.url;
        EXPECT_EQ(u.path, c.path) << c.url;
    }
    ParsedUrl login;
    ASSERT_EQ(ParseUrl("ftp://me:se:cret@h/f;type=a", false, "", &login), 0);
    EXPECT_EQ(login.user, "me");
    EXPECT_EQ(login.password, "se:cret");
    EXPECT_EQ(login.type, 'a');
    ParsedUrl anonymous;
    ASSERT_EQ(ParseUrl("ftp://h/f", false, "", &anonymous), 0);
    EXPECT_EQ(anonymous.user, "anonymous");
    EXPECT_EQ(anonymous.password.size(), 23u);
    EXPECT_NE(anonymous.password.find('@'), std::string::npos);
}

TEST(Url, OverLongPartsAreRefusedNotCut) {
    ParsedUrl u;
    EXPECT_EQ(ParseUrl("http://h/" + std::string(1100, 'a'), false, "", &u), ERR_BADURL);
    EXPECT_EQ(ParseUrl("http://" + std::string(1100, 'h') + "/", false, "", &u), ERR_BADURL);
    EXPECT_EQ(ParseUrl("ftp://u:" + std::string(300, 'p') + "@h/", false, "", &u), ERR_BADURL);
    // Escaping can make a short URL too long for the request line.
    EXPECT_EQ(ParseUrl("http://h/" + std::string(400, ' '), false, "", &u), ERR_BADURL);
}

TEST(Url, EscapingAndRedirectTargets) {
    EXPECT_EQ(EscapeUrl("http://h/a b%c{"), "http://h/a%20b%25c%7b");
    EXPECT_EQ(EscapeUrl("\"<>\\^[]`+$,"), "%22%3c%3e%5c%5e%5b%5d%60%2b%24%2c");
    const std::pair<const char*, const char*> cases[] = {
        {"/new", "http://h:81/new"},
        {"sibling", "http://h:81/dir/sibling"},
        {"http://other/x", "http://other/x"},
        {"ftp://f/x", "ftp://f/x"},
    };
    for (auto [location, expected] : cases) {
        std::string out;
        ASSERT_EQ(ResolveLocation("http://h:81/dir/page", location, &out), 0) << location;
        EXPECT_EQ(out, expected);
    }
    std::string out;
    ASSERT_EQ(ResolveLocation("http://h", "x", &out), 0);
    EXPECT_EQ(out, "http://h/x");
    EXPECT_EQ(ResolveLocation("http://h/", std::string(2048, 'a'), &out), ERR_BADURL);
    EXPECT_EQ(EscapeLocation("http://h/a b%20c"), "http://h/a%20b%20c");
}

TEST(FtpReplies, CodesPasvAndAnnouncedSizes) {
    EXPECT_EQ(FtpReplyCode("220 Ready"), 220);
    EXPECT_EQ(FtpReplyCode("Ready"), -1);
    const std::pair<const char*, int> pasv[] = {
        {"227 Entering Passive Mode (192,168,0,2,19,137)", 5001},
        {"227 =10,1,2,3,0,21", 21},
        {"227 (1,2,3,4,5)", -1},
        {"227 (1,2,3,4,5,6,7)", -1},
        {"227 (1,2,3,4,256,1)", -1},
        {"227 (1,2,3,4,99999999999999999999,1)", -1},
        {"227 (1,2,3,4,0,0)", -1},
        {"227", -1},
    };
    for (auto [line, port] : pasv) {
        int got = 0;
        const int code = ParsePasvReply(line, &got);
        if (port < 0) {
            EXPECT_EQ(code, ERR_FTPERROR) << line;
            EXPECT_EQ(Runtime().error.number, 2u) << line;
        } else {
            EXPECT_EQ(code, 0) << line;
            EXPECT_EQ(got, port) << line;
        }
    }
    const std::pair<const char*, uint64_t> sizes[] = {
        {"150 Opening BINARY mode data connection for f (1234 bytes).", 1234},
        {"150 Opening data connection (1234 Bytes)", 1234},
        {"150 File status okay", 0},
        {"150 (12 items)", 0},
        {"150 (99999999999999999999999 bytes)", 0},
    };
    for (auto [line, size] : sizes) EXPECT_EQ(FtpAnnouncedSize(line), size) << line;
}

}  // namespace
}  // namespace qv

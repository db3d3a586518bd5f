// DownloadFile and UploadFile against scripted servers on threads of the test: the exact
// request bytes, malformed and hostile replies, PASV addresses that point elsewhere, and
// replies cut short. No reply may crash the program or make it connect anywhere else.
#include <mutex>

#include "runtime/errors.h"
#include "tests/libs/network/network_test_support.h"

namespace qv::testing {
namespace {

// Reads one request (the header block and a body of its Content-Length) from fd.
std::string ReadRequest(int fd) {
    std::string request;
    char buffer[4096];
    size_t bodyWanted = std::string::npos;
    for (;;) {
        const size_t end = request.find("\r\n\r\n");
        if (end != std::string::npos && bodyWanted == std::string::npos) {
            const size_t at = request.find("Content-Length: ");
            bodyWanted =
                at != std::string::npos && at < end ? std::stoul(request.substr(at + 16)) : 0;
            bodyWanted += end + 4;
        }
        if (bodyWanted != std::string::npos && request.size() >= bodyWanted) break;
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        request.append(buffer, size_t(n));
    }
    // Whatever else the client sends before it closes belongs to the record too.
    usleep(20000);
    const ssize_t extra = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (extra > 0) request.append(buffer, size_t(extra));
    return request;
}

// A server that answers every connection with the next reply of its list, recording the
// requests; a reply of "" closes without answering.
class HttpScript {
public:
    explicit HttpScript(std::vector<std::string> replies)
        : replies_(std::move(replies)),
          listener_(BoundSocket(SOCK_STREAM)),
          port_(PortOf(listener_.get())) {
        thread_ = std::thread([this] {
            for (const std::string& reply : replies_) {
                Fd client(accept(listener_.get(), nullptr, nullptr));
                if (client.get() < 0) return;
                const std::string request = ReadRequest(client.get());
                {
                    std::lock_guard lock(mutex_);
                    requests_.push_back(request);
                }
                SendAll(client.get(), reply);
                shutdown(client.get(), SHUT_WR);
                char c;
                while (recv(client.get(), &c, 1, 0) > 0) {
                }
            }
        });
    }
    ~HttpScript() {
        shutdown(listener_.get(), SHUT_RDWR);
        thread_.join();
    }
    std::string url(const std::string& path = "/") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    int port() const { return port_; }
    std::vector<std::string> requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    std::vector<std::string> replies_;
    Fd listener_;
    int port_;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> requests_;
};

class Transfers : public NetworkLib {
protected:
    CallResult Download(const std::string& url, std::vector<std::pair<Arg, Arg>> options = {}) {
        return Call("DownloadFile", {Str(url), Table(std::move(options))});
    }
};

std::string Ok(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST_F(Transfers, TheRequestBytesAreExact) {
    HttpScript server({Ok("done")});
    const CallResult r = Download(
        server.url("/a b%c"), {{Str("post"), Str("x=1")}, {Str("posttype"), Str("text/plain")}});
    ASSERT_EQ(r.code, 0) << r.errorText;
    EXPECT_EQ(r.Text(0), "done");
    const std::string port = std::to_string(server.port());
    EXPECT_EQ(server.requests().at(0),
              "POST http://127.0.0.1:" + port +
                  "/a%20b%25c HTTP/1.1\r\nTE: trailers\r\nConnection: close, TE\r\nHost: "
                  "127.0.0.1:" +
                  port +
                  "\r\nUser-Agent: Quorvella 5.0\r\nContent-Type: text/plain\r\n"
                  "Content-Length: 3\r\n\r\nx=1");
}

TEST_F(Transfers, RepliesThatAreDeliveredOrRefused) {
    const std::string longHeader = "X-Policy: " + std::string(8192, 'p') + "\r\n";
    const std::string longLocation = "Location: /" + std::string(2048, 'l') + "\r\n";
    struct Case {
        const char* name;
        std::string reply;
        int code;
        uint32_t number;
        std::string body;
    };
    const Case cases[] = {
        {"continue first", "HTTP/1.1 100 Continue\r\n\r\n" + Ok("body"), 0, 0, "body"},
        {"no space after the name", "HTTP/1.1 200 OK\r\ncontent-length:4\r\n\r\nbody", 0, 0,
         "body"},
        {"tab and trailing blanks", "HTTP/1.1 200 OK\r\nContent-Length:\t4 \r\n\r\nbody", 0, 0,
         "body"},
        {"empty body", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", 0, 0, ""},
        {"8 KiB header", "HTTP/1.1 200 OK\r\n" + longHeader + "Content-Length: 2\r\n\r\nok", 0, 0,
         "ok"},
        {"server error body", "HTTP/1.1 500 Oops\r\nContent-Length: 4\r\n\r\nfail", 0, 0, "fail"},
        {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
         0, 0, "hello"},
        // Numbers are read as numbers: blanks before them, anything after their digits.
        {"length with a tail", "HTTP/1.1 200 OK\r\nContent-Length: 5abc\r\n\r\nhello", 0, 0,
         "hello"},
        {"chunk size after a blank",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n 5\r\nhello\r\n0\r\n\r\n", 0, 0,
         "hello"},
        {"two blanks before the status", "HTTP/1.1  204 No Content\r\n\r\n", ERR_HTTPERROR, 204,
         ""},
        {"length without digits", "HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\nbody",
         ERR_HTTPERROR, 2000, ""},
        {"no HTTP/", "HTTX/1.1 200 OK\r\n\r\n", ERR_HTTPERROR, 1001, ""},
        {"no version", "HTTP/x 200 OK\r\n\r\n", ERR_HTTPERROR, 1002, ""},
        {"no space", "HTTP/1.1-200 OK\r\n\r\n", ERR_HTTPERROR, 1003, ""},
        {"no length", "HTTP/1.1 200 OK\r\n\r\nbody", ERR_HTTPERROR, 2000, ""},
        {"no content", "HTTP/1.1 204 No Content\r\n\r\n", ERR_HTTPERROR, 204, ""},
        {"chunk size without digits", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
         ERR_HTTPERROR, 3000, ""},
        {"giant chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffff\r\n",
         ERR_HTTPERROR, 3000, ""},
        {"giant length", "HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775808\r\n\r\nx", ERR_MEM,
         0, ""},
        {"unknown coding", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\n", ERR_HTTPTE, 0, ""},
        {"closed mid-body", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", ERR_RECVCLOSED, 0,
         ""},
        {"long location", "HTTP/1.1 302 Found\r\n" + longLocation + "\r\n", ERR_BADURL, 0, ""},
    };
    for (const Case& c : cases) {
        HttpScript server({c.reply});
        const CallResult r = Download(server.url());
        EXPECT_EQ(r.code, c.code) << c.name << ": " << r.errorText;
        if (c.code == ERR_HTTPERROR) {
            EXPECT_EQ(r.errorNumber, c.number) << c.name;
        }
        if (c.code == 0) {
            EXPECT_EQ(r.Text(0), c.body) << c.name;
        }
        EXPECT_EQ(*NetworkList(QV_OBJ_CLIENT), nullptr) << c.name << ": connections left";
    }
}

TEST_F(Transfers, RedirectsAreFollowedFiveTimes) {
    std::vector<std::string> replies;
    for (int i = 0; i < 6; ++i)
        replies.push_back(
            "HTTP/1.1 302 Found\r\nLocation: /next\r\n"
            "Content-Length: 5\r\n\r\nsixth");
    HttpScript server(replies);
    const CallResult r = Download(server.url("/first"));
    ASSERT_EQ(r.code, 0) << r.errorText;
    EXPECT_EQ(r.Text(0), "sixth") << "the sixth redirect is delivered as it is";
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_NE(requests[5].find("/next HTTP/1.1"), std::string::npos) << requests[5];
}

TEST_F(Transfers, OptionsProgressAndSilentFailure) {
    EXPECT_EQ(Download("http://127.0.0.1:1/", {{Str("post"), Str("")}}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Download("http://127.0.0.1:1/", {{Str("posttype"), Str("a\r\nX: y")}}).code,
              ERR_WRONGUSAGE);
    EXPECT_EQ(Call("UploadFile", {Str("http://127.0.0.1:1/"), Table({})}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("UploadFile", {Str("ftp://127.0.0.1:1/x"),
                                  Table({{Str("data"), Str("a")}, {Str("file"), Str("b")}})})
                  .code,
              ERR_WRONGUSAGE);
    const CallResult silent = Download("gopher://x/", {{Str("silentfail"), Bool(true)}});
    EXPECT_EQ(silent.code, 0);
    EXPECT_EQ(silent.Number(1), -1);
    EXPECT_FALSE(silent.Text(0).empty());

    {
        HttpScript missing({"HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone"});
        const CallResult r = Download(missing.url("/no%20file"), {{Str("fail404"), Bool(true)}});
        EXPECT_EQ(r.code, ERR_FILENOTFOUND);
        EXPECT_EQ(r.errorText, "/no%20file");
    }
    const std::string body(100000, 'b');
    HttpScript server({Ok(body), Ok(body)});
    std::vector<std::pair<double, double>> seen;
    const Arg progress = Native([&](qvVmState* L) {
        VmPushString(L, "count");
        VmGetTable(L, 1);
        VmPushString(L, "total");
        VmGetTable(L, 1);
        seen.emplace_back(VmToNumber(L, -2), VmToNumber(L, -1));
        VmPushNumber(L, 0);
        return 1;
    });
    const CallResult whole =
        Call("DownloadFile", {Str(server.url()), Table({}), progress, Str("mine")});
    ASSERT_EQ(whole.code, 0);
    ASSERT_FALSE(seen.empty());
    for (size_t i = 1; i < seen.size(); ++i) EXPECT_GT(seen[i].first, seen[i - 1].first);
    EXPECT_EQ(seen.back(), std::make_pair(double(body.size()), double(body.size())));
    // A progress function that answers 1 stops the download without an error.
    const Arg stop = Native([](qvVmState* L) {
        VmPushNumber(L, 1);
        return 1;
    });
    const CallResult part = Call("DownloadFile", {Str(server.url()), Table({}), stop});
    EXPECT_EQ(part.code, 0);
    EXPECT_GT(part.Number(1), 0);
    EXPECT_LT(part.Number(1), double(body.size()));
    EXPECT_EQ(part.Text(0).size(), size_t(part.Number(1)));
}

// The option checks come in their order: an upload's file is opened before the transfer mode
// and the URL are looked at; an upload needs its options table; a number is a string option's
// text; a progress argument that is no function is named as argument 3.
TEST_F(Transfers, OptionsAreCheckedInTheirOrder) {
    const CallResult missing = Call(
        "UploadFile", {Str("gopher://x/"),
                       Table({{Str("file"), Str("no/such/file")}, {Str("transfermode"), Num(1)}})});
    EXPECT_EQ(missing.code, ERR_READFILE);
    EXPECT_EQ(missing.errorText, "no/such/file");
    EXPECT_EQ(Call("UploadFile", {Str("ftp://127.0.0.1:1/x"), Num(5)}).code, ERR_TABEXPECTED);
    EXPECT_EQ(Call("UploadFile", {Str("ftp://127.0.0.1:1/x"), Nil()}).errorNumber, 2u);

    HttpScript server({Ok("posted")});
    const CallResult posted = Download(server.url(), {{Str("post"), Num(42)}});
    ASSERT_EQ(posted.code, 0) << posted.errorText;
    EXPECT_TRUE(server.requests().at(0).ends_with("Content-Length: 2\r\n\r\n42"));

    SetErrorNumber(77);
    const CallResult notAFunction = Call("DownloadFile", {Str(server.url()), Table({}), Num(1)});
    EXPECT_EQ(notAFunction.code, ERR_FUNCEXPECTED);
    EXPECT_EQ(notAFunction.errorNumber, 3u);
}

// An HTTP request target escapes what it cannot carry; a host name and an FTP path refuse
// control bytes. Through a proxy an at sign belongs to the target, not to the host connected.
TEST_F(Transfers, ControlBytesAndAtSignsWhereTheyMatter) {
    HttpScript server({Ok("tab"), Ok("proxied")});
    const CallResult tab = Download(server.url("/a\tb"));
    ASSERT_EQ(tab.code, 0) << tab.errorText;
    EXPECT_NE(server.requests().at(0).find("/a%09b HTTP/1.1"), std::string::npos);
    const CallResult proxied =
        Download("http://user@example.com/x", {{Str("proxy"), Str(server.url())}});
    ASSERT_EQ(proxied.code, 0) << proxied.errorText;
    EXPECT_NE(server.requests().at(1).find("\r\nHost: user@example.com\r\n"), std::string::npos);
    EXPECT_EQ(Download("http://exa\tmple.com/").code, ERR_BADURL);
    EXPECT_EQ(Call("DownloadFile", {Str("ftp://127.0.0.1:1/a\r\ndele b")}).code, ERR_BADURL);
    EXPECT_EQ(Download("http://user@127.0.0.1:1/").code, ERR_BADURL);
}

// A scripted FTP control connection: it answers each line the client sends with the next
// reply and records the commands; after a 1xx answer to retr or stor the data listener
// serves one connection and the reply after it follows unasked.
class FtpScript {
public:
    FtpScript(std::string greeting, std::vector<std::string> replies, std::string data = "")
        : control_(BoundSocket(SOCK_STREAM)),
          data_(BoundSocket(SOCK_STREAM)),
          port_(PortOf(control_.get())) {
        thread_ = std::thread([this, greeting, replies, data] {
            Fd client(accept(control_.get(), nullptr, nullptr));
            if (client.get() < 0) return;
            SendAll(client.get(), greeting);
            std::string pending;
            for (size_t i = 0; i < replies.size(); ++i) {
                std::string line;
                if (!ReadLine(client.get(), &pending, &line)) return;
                {
                    std::lock_guard lock(mutex_);
                    commands_.push_back(line);
                }
                std::string reply = replies[i];
                const size_t mark = reply.find("{data}");
                if (mark != std::string::npos) reply.replace(mark, 6, DataPort());
                SendAll(client.get(), reply);
                // After a transfer the final reply comes unasked.
                if ((line.rfind("retr", 0) == 0 || line.rfind("stor", 0) == 0) && reply[0] == '1') {
                    Serve(data);
                    if (++i < replies.size()) SendAll(client.get(), replies[i]);
                }
            }
            std::string line;
            while (ReadLine(client.get(), &pending, &line)) {
                std::lock_guard lock(mutex_);
                commands_.push_back(line);
            }
        });
    }
    ~FtpScript() {
        shutdown(control_.get(), SHUT_RDWR);
        shutdown(data_.get(), SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
    }
    std::string url(const std::string& path) const {
        return "ftp://127.0.0.1:" + std::to_string(port_) + path;
    }
    // What the client sent and stored, once it has closed the control connection.
    std::vector<std::string> commands() {
        thread_.join();
        return commands_;
    }
    std::string stored() {
        std::lock_guard lock(mutex_);
        return stored_;
    }

private:
    static bool ReadLine(int fd, std::string* pending, std::string* line) {
        char buffer[512];
        for (size_t end; (end = pending->find("\r\n")) == std::string::npos;) {
            const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) return false;
            pending->append(buffer, size_t(n));
        }
        const size_t end = pending->find("\r\n");
        *line = pending->substr(0, end);
        pending->erase(0, end + 2);
        return true;
    }
    // "h1,h2,h3,h4,p1,p2" announcing 10.1.2.3 with the real data port.
    std::string DataPort() const {
        const int port = PortOf(data_.get());
        return "10,1,2,3," + std::to_string(port / 256) + "," + std::to_string(port % 256);
    }
    void Serve(const std::string& data) {
        Fd client(accept(data_.get(), nullptr, nullptr));
        if (client.get() < 0) return;
        SendAll(client.get(), data);
        shutdown(client.get(), SHUT_WR);
        char buffer[4096];
        std::string received;
        for (ssize_t n; (n = recv(client.get(), buffer, sizeof buffer, 0)) > 0;)
            received.append(buffer, size_t(n));
        std::lock_guard lock(mutex_);
        stored_ = received;
    }

    Fd control_;
    Fd data_;
    int port_;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> commands_;
    std::string stored_;
};

const std::vector<std::string> kLoginAndPasv = {
    "331 Password\r\n", "230 In\r\n", "227 Entering Passive Mode ({data})\r\n", "200 Type\r\n"};

std::vector<std::string> With(std::vector<std::string> replies, std::vector<std::string> more) {
    replies.insert(replies.end(), more.begin(), more.end());
    return replies;
}

TEST_F(Transfers, FtpGoesToTheControlPeerAndKeepsTheTail) {
    const std::string file(10000, 'f');
    FtpScript server("220-Welcome\r\n220-to the\r\n220 test\r\n",
                     With(kLoginAndPasv, {"150 Here (10000 bytes)\r\n", "226 Done\r\n"}), file);
    const CallResult r = Call("DownloadFile", {Str(server.url("/dir/f;type=a"))});
    ASSERT_EQ(r.code, 0) << r.errorText;
    EXPECT_EQ(r.Number(1), double(file.size()));
    EXPECT_TRUE(r.Text(0) == file);
    const std::vector<std::string> expected = {
        "user anonymous", "pass anonymous@quorvella.net", "pasv", "type a", "retr /dir/f", "quit"};
    EXPECT_EQ(server.commands(), expected);
}

TEST_F(Transfers, ARedirectToFtpContinuesAsFtp) {
    FtpScript ftp("220 Ready\r\n", With(kLoginAndPasv, {"150 Here\r\n", "226 Done\r\n"}),
                  "from ftp");
    HttpScript http({"HTTP/1.1 302 Found\r\nLocation: " + ftp.url("/f") + "\r\n\r\n"});
    const CallResult r = Download(http.url("/moved"));
    ASSERT_EQ(r.code, 0) << r.errorText;
    EXPECT_EQ(r.Text(0), "from ftp");
    EXPECT_EQ(ftp.commands().at(4), "retr /f");
}

// The progress total of an upload is its file's size; "data" announces none.
TEST_F(Transfers, FtpUploadOfDataAndALoginWithoutPassword) {
    FtpScript server("220 Ready\r\n", {"230 No password needed\r\n", "227 ({data})\r\n",
                                       "200 Type\r\n", "150 Send\r\n", "226 Stored\r\n"});
    std::vector<double> totals;
    const Arg progress = Native([&](qvVmState* L) {
        VmPushString(L, "total");
        VmGetTable(L, 1);
        totals.push_back(VmToNumber(L, -1));
        VmPushNumber(L, 0);
        return 1;
    });
    const CallResult r = Call(
        "UploadFile", {Str(server.url("/up")), Table({{Str("data"), Str("payload")}}), progress});
    ASSERT_EQ(r.code, 0) << r.errorText;
    EXPECT_EQ(server.stored(), "payload");
    ASSERT_FALSE(totals.empty());
    EXPECT_EQ(totals.back(), 0);
    const std::vector<std::string> expected = {"user anonymous", "pasv", "type i", "stor /up",
                                               "quit"};
    EXPECT_EQ(server.commands(), expected);
}

TEST_F(Transfers, FtpRepliesThatEndTheTransfer) {
    struct Case {
        const char* name;
        std::string greeting;
        std::vector<std::string> replies;
        int code;
        uint32_t number;
    };
    const Case cases[] = {
        {"continuation without the code",
         "220-Welcome\r\nReady\r\n220 Ready\r\n",
         {},
         ERR_FTPERROR,
         1},
        {"bad greeting", "421 Busy\r\n", {}, ERR_FTPERROR, 421},
        {"bad password", "220 Ready\r\n", {"331 Password\r\n", "530 No\r\n"}, ERR_FTPAUTH, 0},
        {"five PASV numbers",
         "220 Ready\r\n",
         {"331 P\r\n", "230 In\r\n", "227 (1,2,3,4,5)\r\n"},
         ERR_FTPERROR,
         2},
        {"type not exactly 200",
         "220 Ready\r\n",
         {"331 P\r\n", "230 In\r\n", "227 ({data})\r\n", "250 Type\r\n"},
         ERR_FTPERROR,
         250},
        {"missing file", "220 Ready\r\n", With(kLoginAndPasv, {"550 No such file\r\n"}),
         ERR_FILENOTFOUND, 0},
    };
    for (const Case& c : cases) {
        FtpScript server(c.greeting, c.replies);
        const CallResult r = Call("DownloadFile", {Str(server.url("/f"))});
        EXPECT_EQ(r.code, c.code) << c.name << ": " << r.errorText;
        if (c.code == ERR_FTPERROR) {
            EXPECT_EQ(r.errorNumber, c.number) << c.name;
        }
        EXPECT_EQ(*NetworkList(QV_OBJ_CLIENT), nullptr) << c.name;
    }
}

}  // namespace
}  // namespace qv::testing

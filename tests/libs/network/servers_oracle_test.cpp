// DownloadFile and UploadFile against real servers on 127.0.0.1 (nginx, tinyproxy, pyftpdlib,
// vsftpd), with curl as the reference client.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "tests/libs/network/network_test_support.h"
#include "tests/support/servers.h"

namespace qv::testing {
namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string RandomBytes(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::mt19937 random(seed);
    for (char& c : bytes) c = char(random());
    return bytes;
}

// What curl fetches from url.
std::string Curl(const std::string& url, const std::string& scratch) {
    RunTool("curl -s -o '" + scratch + "' '" + url + "'");
    return ReadAll(scratch);
}

class Servers : public NetworkLib {
protected:
    void SetUp() override {
        root_ = TempDir() + "/root";
        std::filesystem::create_directories(root_);
    }
    std::string Dir(const std::string& name) {
        const std::string dir = TempDir() + "/" + name;
        std::filesystem::create_directories(dir);
        return dir;
    }
    CallResult Download(const std::string& url, std::vector<std::pair<Arg, Arg>> options = {}) {
        return Call("DownloadFile", {Str(url), Table(std::move(options))});
    }
    // A progress function that keeps the total of every call and lets the transfer go on.
    static Arg RecordTotals(std::vector<double>& totals) {
        return Native([&totals](qvVmState* L) {
            VmPushString(L, "total");
            VmGetTable(L, 1);
            totals.push_back(VmToNumber(L, -1));
            VmPushNumber(L, 0);
            return 1;
        });
    }
    std::string root_;
};

#define QV_REQUIRE_SERVER(server) ASSERT_TRUE((server).running()) << "the server did not start"

TEST_F(Servers, NginxFilesInMemoryAndInFilesEqualCurl) {
    QV_REQUIRE_TOOL("nginx");
    QV_REQUIRE_TOOL("curl");
    const size_t sizes[] = {0, 1, 8191, 8192, 8193, 5u << 20};
    for (size_t size : sizes)
        WriteAll(root_ + "/files/" + std::to_string(size), RandomBytes(size, unsigned(size)));
    NginxServer nginx(Dir("nginx"), root_);
    QV_REQUIRE_SERVER(nginx);
    for (size_t size : sizes) {
        const std::string url = nginx.url("/files/" + std::to_string(size));
        const std::string reference = Curl(url, TempDir() + "/curl");
        ASSERT_EQ(reference.size(), size);
        const CallResult memory = Download(url);
        ASSERT_EQ(memory.code, 0) << size << ": " << memory.errorText;
        EXPECT_EQ(memory.Number(1), double(size));
        EXPECT_TRUE(memory.Text(0) == reference) << size;
        const std::string saved = TempDir() + "/saved";
        const CallResult file = Download(url, {{Str("file"), Str(saved)}});
        ASSERT_EQ(file.code, 0) << size << ": " << file.errorText;
        EXPECT_EQ(file.Text(0), "");
        EXPECT_EQ(file.Number(1), double(size));
        EXPECT_TRUE(ReadAll(saved) == reference) << size;
    }
}

TEST_F(Servers, NginxRedirectsChunksAndStatuses) {
    QV_REQUIRE_TOOL("nginx");
    WriteAll(root_ + "/files/one", "one");
    WriteAll(root_ + "/ssi/page.html",
             "before <!--# set var=\"x\" value=\"hello\" --><!--# echo var=\"x\" --> after");
    NginxServer nginx(Dir("nginx"), root_);
    QV_REQUIRE_SERVER(nginx);
    EXPECT_EQ(Download(nginx.url("/c5")).Text(0), "one") << "five redirects are followed";
    const CallResult sixth = Download(nginx.url("/c6"));
    EXPECT_EQ(sixth.code, 0);
    EXPECT_NE(sixth.Text(0).find("302"), std::string::npos) << "the sixth is delivered";
    EXPECT_EQ(Download(nginx.url("/relative")).Text(0), "one");
    EXPECT_NE(Download(nginx.url("/c2"), {{Str("redirect"), Bool(false)}}).Text(0).find("302"),
              std::string::npos);

    std::vector<double> totals;
    const Arg progress = RecordTotals(totals);
    const CallResult chunked =
        Call("DownloadFile", {Str(nginx.url("/ssi/page.html")), Table({}), progress});
    ASSERT_EQ(chunked.code, 0) << chunked.errorText;
    EXPECT_EQ(chunked.Text(0), "before hello after");
    ASSERT_FALSE(totals.empty());
    EXPECT_EQ(totals.back(), 0) << "no total for a chunked body";

    const CallResult missing = Download(nginx.url("/files/none"), {{Str("fail404"), Bool(true)}});
    EXPECT_EQ(missing.code, ERR_FILENOTFOUND);
    EXPECT_EQ(missing.errorText, "/files/none");
    EXPECT_NE(Download(nginx.url("/files/none")).Text(0).find("404"), std::string::npos);
    EXPECT_EQ(Download(nginx.url("/error")).Text(0), "body");
    const CallResult nothing = Download(nginx.url("/nothing"));
    EXPECT_EQ(nothing.code, ERR_HTTPERROR);
    EXPECT_EQ(nothing.errorNumber, 204u);
}

TEST_F(Servers, TinyproxyCarriesTheRequestWithTheTargetsHostAndPort) {
    QV_REQUIRE_TOOL("nginx");
    QV_REQUIRE_TOOL("tinyproxy");
    WriteAll(root_ + "/files/one", "one");
    NginxServer nginx(Dir("nginx"), root_);
    TinyProxy proxy(Dir("proxy"));
    QV_REQUIRE_SERVER(nginx);
    QV_REQUIRE_SERVER(proxy);
    const CallResult r =
        Download(nginx.url("/files/one"),
                 {{Str("proxy"), Str("http://127.0.0.1:" + std::to_string(proxy.port()))}});
    ASSERT_EQ(r.code, 0) << r.errorText;
    EXPECT_EQ(r.Text(0), "one");
    const std::string log = nginx.AccessLogWith("GET /files/one HTTP/1.");
    EXPECT_NE(log.find("GET /files/one HTTP/1."), std::string::npos) << log;
    EXPECT_NE(log.find("127.0.0.1:" + std::to_string(nginx.port())), std::string::npos) << log;
}

TEST_F(Servers, PyftpdlibDownloadsUploadsAndRefusals) {
    QV_REQUIRE_TOOL("curl");
    if (RunTool(std::string(SystemPython()) + " -c 'import pyftpdlib' 2>/dev/null").status != 0) {
        if (const char* ci = std::getenv("CI"); ci != nullptr && std::string(ci) == "true")
            FAIL() << "missing pyftpdlib";
        GTEST_SKIP() << "missing pyftpdlib";
    }
    const std::string binary = RandomBytes(300000, 4);
    const std::string text = "first line\nsecond line\n" + std::string(10000, 'x') + "\nend\n";
    WriteAll(root_ + "/bin", binary);
    WriteAll(root_ + "/text", text);
    PyFtpServer server(root_, true);
    QV_REQUIRE_SERVER(server);
    const CallResult r = Call("DownloadFile", {Str(server.url("/bin"))});
    ASSERT_EQ(r.code, 0) << r.errorText;
    EXPECT_TRUE(r.Text(0) == Curl(server.url("/bin"), TempDir() + "/curl"));
    std::string crlf;
    for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(Call("DownloadFile", {Str(server.url("/text;type=a"))}).Text(0), crlf);
    EXPECT_EQ(
        Call("DownloadFile", {Str(server.url("/text")), Table({{Str("transfermode"), Num(97)}})})
            .Text(0),
        crlf);

    ASSERT_EQ(
        Call("UploadFile", {Str(server.url("/from_data")), Table({{Str("data"), Str(binary)}})})
            .code,
        0);
    EXPECT_TRUE(ReadAll(root_ + "/from_data") == binary);
    const std::string local = TempDir() + "/local";
    WriteAll(local, binary.substr(0, 8192 * 3));  // whole blocks and an empty last one
    ASSERT_EQ(
        Call("UploadFile", {Str(server.url("/from_file")), Table({{Str("file"), Str(local)}})})
            .code,
        0);
    EXPECT_EQ(RunTool("cmp -s '" + local + "' '" + root_ + "/from_file'").status, 0);

    const CallResult missing = Call("DownloadFile", {Str(server.url("/none"))});
    EXPECT_EQ(missing.code, ERR_FILENOTFOUND);
    EXPECT_EQ(missing.errorText, "/none");

    PyFtpServer readOnly(root_, false);
    QV_REQUIRE_SERVER(readOnly);
    EXPECT_EQ(Call("UploadFile", {Str(readOnly.url("/x")), Table({{Str("data"), Str("x")}})}).code,
              ERR_UPLOADFORBIDDEN);

    PyFtpServer withLogin(root_, false, "user", "secret");
    QV_REQUIRE_SERVER(withLogin);
    Call("SetNetworkTimeout", {Num(10000)});  // the server answers a bad login after 3 s
    EXPECT_EQ(Call("DownloadFile", {Str(withLogin.url("/text", "user:wrong@"))}).code, ERR_FTPAUTH);
    EXPECT_EQ(Call("DownloadFile", {Str(withLogin.url("/text", "user:secret@"))}).Text(0), text);
}

TEST_F(Servers, VsftpdAnnouncesTheSizeThatProgressReports) {
    QV_REQUIRE_TOOL("vsftpd");
    const std::string file = RandomBytes(123457, 8);
    WriteAll(root_ + "/file", file);
    std::filesystem::permissions(
        root_, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                   std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                   std::filesystem::perms::others_exec);
    Vsftpd server(Dir("vsftpd"), root_);
    QV_REQUIRE_SERVER(server);
    std::vector<double> totals;
    const Arg progress = RecordTotals(totals);
    const CallResult r =
        Call("DownloadFile", {Str(server.url(root_ + "/file")), Table({}), progress});
    ASSERT_EQ(r.code, 0) << r.errorText;
    EXPECT_TRUE(r.Text(0) == file);
    ASSERT_FALSE(totals.empty());
    EXPECT_EQ(totals.back(), double(file.size()));
}

}  // namespace
}  // namespace qv::testing

// The HTTP/1.1 client of DownloadFile: GET or POST with the escaped URL as the request
// target, status line and headers of any length, up to five redirects, bodies by length or
// in chunks.
#include <cctype>
#include <string>

#include "libs/network/transfer.h"
#include "runtime/errors.h"

namespace qv {
namespace {

constexpr int kMaxRedirects = 5;
constexpr int kDetailNoHttp = 1001, kDetailNoVersion = 1002, kDetailNoSpace = 1003,
              kDetailNoLength = 2000, kDetailChunkSize = 3000;
// Chunk sizes beyond this are refused (fifteen hex digits); a status beyond this is no status.
constexpr uint64_t kMaxChunkSize = (uint64_t(1) << 60) - 1, kMaxStatus = 99999;

int HttpError(int detail) {
    SetErrorNumber(uint32_t(detail));
    return ERR_HTTPERROR;
}

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

int DigitValue(char c) {
    if (IsDigit(c)) return c - '0';
    const char lower = char(std::tolower(static_cast<unsigned char>(c)));
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : 99;
}

// The number at the start of text, read as a number is read from a header: leading blanks
// skipped, digits of the base up to the first other character. False without a digit or when
// the value passes limit.
bool LeadingNumber(std::string_view text, int base, uint64_t limit, uint64_t* value) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    uint64_t v = 0;
    const size_t first = i;
    for (; i < text.size() && DigitValue(text[i]) < base; ++i) {
        const uint64_t digit = uint64_t(DigitValue(text[i]));
        if (v > (limit - digit) / uint64_t(base)) return false;
        v = v * uint64_t(base) + digit;
    }
    *value = v;
    return i > first;
}

struct Response {
    int status = 0;
    bool chunked = false;
    bool hasLength = false;
    uint64_t length = 0;
    std::string location;
    bool locationTooLong = false;
};

int ReadStatusLine(Transfer& t, qvNetObject* node, int* status) {
    std::string line;
    bool longer = false;
    if (const int code = t.ReadLine(node, &line, &longer)) return code;
    if (longer || line.compare(0, 5, "HTTP/") != 0) return HttpError(kDetailNoHttp);
    size_t i = 5;
    if (i >= line.size() || !IsDigit(line[i])) return HttpError(kDetailNoVersion);
    while (i < line.size() && (IsDigit(line[i]) || line[i] == '.')) ++i;
    if (i >= line.size() || line[i] != ' ') return HttpError(kDetailNoSpace);
    uint64_t code = 0;
    LeadingNumber(std::string_view(line).substr(i), 10, kMaxStatus, &code);
    *status = int(code);
    return 0;
}

// One header: the name up to ":" in any case, the value without surrounding blanks.
int ParseHeader(std::string_view line, bool longer, Response* r) {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return 0;
    const std::string name = Lower(line.substr(0, colon));
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    if (name == "content-length") {
        r->hasLength = LeadingNumber(value, 10, UINT64_MAX, &r->length);
    } else if (name == "transfer-encoding") {
        const std::string coding = Lower(value);
        if (coding == "chunked")
            r->chunked = true;
        else if (coding != "identity")
            return ERR_HTTPTE;
    } else if (name == "location") {
        r->location = value;
        r->locationTooLong = longer;
    }
    return 0;
}

int ReadHeaders(Transfer& t, qvNetObject* node, Response* r) {
    for (;;) {
        std::string line;
        bool longer = false;
        if (const int code = t.ReadLine(node, &line, &longer)) return code;
        if (line.empty() && !longer) return 0;
        if (const int code = ParseHeader(line, longer, r)) return code;
    }
}

int ReadChunkSize(Transfer& t, qvNetObject* node, uint64_t* size) {
    std::string line;
    bool longer = false;
    if (const int code = t.ReadLine(node, &line, &longer)) return code;
    if (longer || !LeadingNumber(line, 16, kMaxChunkSize, size)) return HttpError(kDetailChunkSize);
    return 0;
}

// Progress counts the chunks' data, never their size lines.
int ReadChunkedBody(Transfer& t, qvNetObject* node, DownloadSink& sink) {
    const bool progress = node->progress;
    for (;;) {
        node->progress = false;
        uint64_t size = 0;
        if (const int code = ReadChunkSize(t, node, &size)) return code;
        if (size == 0) return 0;
        if (const int code = sink.Expect(size)) return code;
        node->progress = progress;
        if (const int code = t.Receive(node, RECEIVEBYTES, size_t(size), sink)) return code;
        node->progress = false;
        std::string end;
        if (const int code = t.ReadLine(node, &end)) return code;
    }
}

int ReadBody(Transfer& t, qvNetObject* node, const Response& r, DownloadSink& sink) {
    t.Progress(node, true, r.chunked ? 0 : r.length);
    if (const int code = sink.Open()) return code;
    if (r.chunked) return ReadChunkedBody(t, node, sink);
    if (r.length == 0) return 0;
    if (const int code = sink.Expect(r.length)) return code;
    return t.Receive(node, RECEIVEBYTES, size_t(r.length), sink);
}

std::string Request(const Transfer& t, const ParsedUrl& u, const std::string& target) {
    const TransferOptions& o = t.options;
    std::string host = u.hostPart;
    if (o.proxy.empty()) {
        host = u.host;
        if (u.port != 80) host += ":" + std::to_string(u.port);
    }
    std::string request = (o.post ? "POST " : "GET ") + target + " HTTP/1.1\r\n";
    request += "TE: trailers\r\nConnection: close, TE\r\nHost: " + host +
               "\r\nUser-Agent: Quorvella 5.0\r\n";
    if (o.post) {
        request += "Content-Type: " + o.postType +
                   "\r\nContent-Length: " + std::to_string(o.postData.size()) + "\r\n";
    }
    return request + "\r\n";
}

int SendRequest(Transfer& t, qvNetObject* node, const ParsedUrl& u, const std::string& target) {
    if (const int code = t.SendAll(node, Request(t, u, target))) return code;
    return t.options.post ? t.SendAll(node, t.options.postData) : 0;
}

}  // namespace

int ReadHttpReply(Transfer& t, qvNetObject* node, const std::string& path, bool mayRedirect,
                  DownloadSink& sink, HttpReply* reply) {
    Response r;
    do {
        if (const int code = ReadStatusLine(t, node, &r.status)) return code;
        if (r.status == 100) {
            Response skipped;
            if (const int code = ReadHeaders(t, node, &skipped)) return code;
        }
    } while (r.status == 100);
    reply->status = r.status;
    if (r.status == 404 && t.options.fail404) return ErrorWithText(ERR_FILENOTFOUND, path.c_str());
    if (const int code = ReadHeaders(t, node, &r)) return code;
    reply->redirect = mayRedirect && (r.status == 301 || r.status == 302) && !r.location.empty();
    if (reply->redirect) {
        reply->location = r.location;
        return r.locationTooLong ? ERR_BADURL : 0;
    }
    if (r.status == 204 || r.status == 304 || (r.status >= 100 && r.status < 200))
        return HttpError(r.status);
    if (!r.chunked && !r.hasLength) return HttpError(kDetailNoLength);
    return ReadBody(t, node, r, sink);
}

int HttpDownload(Transfer& t, std::string url, DownloadSink& sink) {
    std::string target = EscapeUrl(url);
    for (int redirects = 0;; ++redirects) {
        ParsedUrl u;
        if (const int code = ParseUrl(url, false, t.options.proxy, &u)) return code;
        if (u.scheme == UrlScheme::Ftp) return FtpTransfer(t, u, &sink, nullptr);
        qvNetObject* node = nullptr;
        if (const int code = t.Connect(u.host, u.port, &node)) return code;
        if (const int code = SendRequest(t, node, u, target)) return code;
        HttpReply reply;
        const bool mayRedirect = t.options.redirect && redirects < kMaxRedirects;
        if (const int code = ReadHttpReply(t, node, u.path, mayRedirect, sink, &reply)) return code;
        if (!reply.redirect) return 0;
        t.Close(node);
        std::string next;
        if (const int code = ResolveLocation(url, reply.location, &next)) return code;
        url = next;
        target = EscapeLocation(url);
    }
}

}  // namespace qv

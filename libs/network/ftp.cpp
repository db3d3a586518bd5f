// The FTP client of DownloadFile and UploadFile: login, a passive data connection to the
// control connection's own peer, the transfer type, then retr or stor.
#include <arpa/inet.h>
#include <sys/socket.h>

#include <cctype>
#include <string>

#include "libs/network/transfer.h"
#include "platform/linux/files.h"
#include "runtime/errors.h"

namespace qv {
namespace {

constexpr size_t kDownloadBlock = 4096, kUploadBlock = 8192;
constexpr int kBadContinuation = 1, kBadPasv = 2;
constexpr int kFileNotFound = 550, kBadLogin = 530, kNeedPassword = 331, kTypeOk = 200;

int FtpError(int number) {
    SetErrorNumber(uint32_t(number));
    return ERR_FTPERROR;
}

bool Is2xx(int code) {
    return code >= 200 && code < 300;
}

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Sends a command and reads its reply.
int Command(Transfer& t, qvNetObject* node, const std::string& command, int* code,
            std::string* last = nullptr) {
    if (const int error = t.SendAll(node, command + "\r\n")) return error;
    return ReadFtpReply(t, node, code, last);
}

int Login(Transfer& t, qvNetObject* control, const ParsedUrl& url) {
    int code = 0;
    if (const int error = ReadFtpReply(t, control, &code, nullptr)) return error;
    if (code >= 100 && code < 200) {
        if (const int error = ReadFtpReply(t, control, &code, nullptr)) return error;
    }
    if (!Is2xx(code)) return FtpError(code);
    if (const int error = Command(t, control, "user " + url.user, &code)) return error;
    if (code == kNeedPassword) {
        if (const int error = Command(t, control, "pass " + url.password, &code)) return error;
        if (code == kBadLogin) return ERR_FTPAUTH;
    }
    return Is2xx(code) ? 0 : FtpError(code);
}

// The data connection goes to the control connection's peer, whatever address the server
// announced, so that a server cannot make the client connect elsewhere.
int OpenDataConnection(Transfer& t, qvNetObject* control, qvNetObject** data) {
    int code = 0;
    std::string line;
    if (const int error = Command(t, control, "pasv", &code, &line)) return error;
    if (!Is2xx(code)) return FtpError(code);
    int port = 0;
    if (const int error = ParsePasvReply(line, &port)) return error;
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    if (getpeername(control->connection.socket, reinterpret_cast<sockaddr*>(&peer), &length) != 0)
        return ERR_PEERNAME;
    return t.ConnectAddress(peer.sin_addr.s_addr, port, data);
}

int Download(Transfer& t, qvNetObject* data, DownloadSink& sink) {
    if (const int error = sink.Open()) return error;
    for (;;) {
        const int error = t.Receive(data, RECEIVEBYTES, kDownloadBlock, sink);
        // The end of the data is the server's close; the bytes before it are kept.
        if (error == ERR_RECVCLOSED) return 0;
        if (error != 0) return error;
    }
}

int Upload(Transfer& t, qvNetObject* data, const UploadSource& source) {
    if (source.file == nullptr) return t.SendAll(data, source.data != nullptr ? *source.data : "");
    std::string block(kUploadBlock, '\0');
    int64_t total = 0;
    for (;;) {
        const int64_t n = FileRead(source.file, block.data(), int64_t(kUploadBlock));
        if (n < 0) return ERR_READ;
        if (const int error = t.SendAll(data, std::string_view(block.data(), size_t(n))))
            return error;
        total += n;
        if (n < int64_t(kUploadBlock)) break;
    }
    return total == source.size ? 0 : ERR_SENDDATA;
}

int Retrieve(Transfer& t, qvNetObject* control, const ParsedUrl& url, DownloadSink* sink,
             const UploadSource* source) {
    qvNetObject* data = nullptr;
    if (const int error = OpenDataConnection(t, control, &data)) return error;
    const char mode = url.type != 0 ? url.type : t.options.mode == kFtpAscii ? 'a' : 'i';
    int code = 0;
    if (const int error = Command(t, control, std::string("type ") + mode, &code)) return error;
    if (code != kTypeOk) return FtpError(code);
    std::string line;
    const char* verb = sink != nullptr ? "retr " : "stor ";
    if (const int error = Command(t, control, verb + url.path, &code, &line)) return error;
    if (code == kFileNotFound) {
        SetErrorString(url.path.c_str());
        return sink != nullptr ? ERR_FILENOTFOUND : ERR_UPLOADFORBIDDEN;
    }
    if (code < 100 || code > 299) return FtpError(code);
    // An upload's total is its file's size; a string of "data" announces none.
    const uint64_t total = sink != nullptr           ? code == 150 ? FtpAnnouncedSize(line) : 0
                           : source->file != nullptr ? uint64_t(source->size)
                                                     : 0;
    t.Progress(data, true, total);
    const int error = sink != nullptr ? Download(t, data, *sink) : Upload(t, data, *source);
    if (error != 0) return error;
    t.Close(data);
    if (code < 200) {
        if (const int replyError = ReadFtpReply(t, control, &code, nullptr)) return replyError;
        if (!Is2xx(code)) return FtpError(code);
    }
    return 0;
}

}  // namespace

int ReadFtpReply(Transfer& t, qvNetObject* node, int* code, std::string* last) {
    std::string line;
    if (const int error = t.ReadLine(node, &line)) return error;
    *code = FtpReplyCode(line);
    while (line.size() > 3 && line[3] == '-') {
        if (const int error = t.ReadLine(node, &line)) return error;
        if (FtpReplyCode(line) != *code) return FtpError(kBadContinuation);
    }
    if (last != nullptr) *last = line;
    return 0;
}

int FtpReplyCode(std::string_view line) {
    int code = -1;
    for (size_t i = 0; i < line.size() && i < 4 && IsDigit(line[i]); ++i)
        code = (code < 0 ? 0 : code * 10) + (line[i] - '0');
    return code;
}

int ParsePasvReply(std::string_view line, int* port) {
    int numbers[6];
    int count = 0;
    for (size_t i = 4; i < line.size();) {
        if (!IsDigit(line[i])) {
            ++i;
            continue;
        }
        int value = 0;
        for (; i < line.size() && IsDigit(line[i]); ++i) {
            value = value * 10 + (line[i] - '0');
            if (value > 255) return FtpError(kBadPasv);
        }
        if (count == 6) return FtpError(kBadPasv);
        numbers[count++] = value;
        const size_t comma = line.find(',', i);
        if (comma == std::string_view::npos) break;
        i = comma + 1;
    }
    if (count != 6) return FtpError(kBadPasv);
    *port = numbers[4] * 256 + numbers[5];
    return *port == 0 ? FtpError(kBadPasv) : 0;
}

uint64_t FtpAnnouncedSize(std::string_view line) {
    size_t end = line.size();
    while (end > 0 && !IsDigit(line[end - 1])) --end;
    size_t start = end;
    while (start > 0 && IsDigit(line[start - 1])) --start;
    std::string_view after = line.substr(end);
    constexpr std::string_view kBytes = " bytes";
    if (start == end || after.size() < kBytes.size()) return 0;
    for (size_t i = 0; i < kBytes.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(after[i])) != kBytes[i]) return 0;
    }
    uint64_t total = 0;
    for (size_t i = start; i < end; ++i) {
        if (total > (UINT64_MAX - 9) / 10) return 0;
        total = total * 10 + uint64_t(line[i] - '0');
    }
    return total;
}

int FtpTransfer(Transfer& t, const ParsedUrl& url, DownloadSink* sink, const UploadSource* source) {
    qvNetObject* control = nullptr;
    if (const int error = t.Connect(url.host, url.port, &control)) return error;
    if (const int error = Login(t, control, url)) return error;
    if (const int error = Retrieve(t, control, url, sink, source)) return error;
    return t.SendAll(control, "quit\r\n");
}

}  // namespace qv

// DownloadFile and UploadFile: one transfer routine for both directions over HTTP/1.1 and
// FTP. A transfer owns its connections, its file and its memory buffer, and frees them on
// every way out. Servers are untrusted: reply lines of any length are read (only what is
// needed is kept), sizes are checked 64-bit numbers, and nothing a server says makes the
// client connect to another host.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "libs/network/network_library.h"
#include "libs/network/url.h"

struct qvFile;

namespace qv {

inline constexpr int kFtpBinary = 105, kFtpAscii = 97;
// A memory download holds at most this many bytes (a script string's limit).
inline constexpr uint64_t kMemoryDownloadMax = 0x7FFFFFFF;

struct TransferOptions {
    int mode = kFtpBinary;
    std::string file;
    std::string proxy;
    bool silentFail = false;
    bool fail404 = false;
    bool redirect = true;
    bool post = false;
    std::string postData;
    std::string postType = "application/x-www-form-urlencoded";
    bool hasData = false;
    std::string data;
};

// Where downloaded bytes go: memory (bounded by kMemoryDownloadMax), or the file of the
// "file" option, opened for writing when the body begins and closed with the sink.
class DownloadSink final : public ReceiveSink {
public:
    explicit DownloadSink(const std::string& name) : name_(name) {}
    ~DownloadSink() override;
    DownloadSink(const DownloadSink&) = delete;
    DownloadSink& operator=(const DownloadSink&) = delete;
    // Opens the file (ERR_WRITEFILE with its name); nothing for memory.
    int Open();
    int Put(const uint8_t* bytes, size_t length) override;
    // Makes room for total more bytes in memory: ERR_MEM when they cannot be held.
    int Expect(uint64_t total);
    uint64_t count() const { return count_; }
    const std::string& memory() const { return memory_; }

private:
    const std::string& name_;
    qvFile* file_ = nullptr;
    std::string memory_;
    uint64_t count_ = 0;
};

// One call's connections and progress settings; the connections close with it.
class Transfer {
public:
    Transfer(qvVmState* L, const TransferOptions& options, bool progress, bool userData)
        : L(L), options(options), progress_(progress), userData_(userData) {}
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // Opens a connection for which the dispatcher raises no events.
    int Connect(const std::string& host, int port, qvNetObject** node);
    int ConnectAddress(uint32_t address, int port, qvNetObject** node);
    void Close(qvNetObject* node);
    // Sends every byte (else ERR_SENDDATA); the abort flag afterwards is ERR_USERABORT.
    int SendAll(qvNetObject* node, std::string_view bytes);
    // One line of any length; the first kUrlPartMax characters are kept, *longer tells
    // whether there were more.
    int ReadLine(qvNetObject* node, std::string* line, bool* longer = nullptr);
    // Receives with the receive engine as an error code (ERR_RECVCLOSED and so on).
    int Receive(qvNetObject* node, int mode, size_t count, ReceiveSink& sink);
    // Progress reports for the node's body bytes, or none.
    void Progress(qvNetObject* node, bool on, uint64_t total = 0);
    // Whether a progress function asked to stop (result 1 without the abort flag).
    bool stopped() const { return stopped_; }
    // Maps ERR_USERABORT of a progress stop to 0, remembering the stop.
    int Settle(int code);

    qvVmState* const L;
    const TransferOptions& options;

private:
    bool progress_;
    bool userData_;
    bool stopped_ = false;
    std::vector<qvNetObject*> open_;
};

int HttpDownload(Transfer& t, std::string url, DownloadSink& sink);
// Reads the reply to a request that went out: status lines (skipping 100), headers, and the
// body into sink, unless the reply is a redirect that may be followed (reply->redirect).
struct HttpReply {
    int status = 0;
    bool redirect = false;
    std::string location;
};
int ReadHttpReply(Transfer& t, qvNetObject* node, const std::string& path, bool mayRedirect,
                  DownloadSink& sink, HttpReply* reply);
// source: the upload's file (or none) and its size; data when "data" was given.
struct UploadSource {
    qvFile* file = nullptr;
    const std::string* data = nullptr;
    int64_t size = 0;
};
int FtpTransfer(Transfer& t, const ParsedUrl& url, DownloadSink* sink, const UploadSource* source);

// One FTP reply: its code and, when asked, its last line (multi-line replies must repeat the
// code on every line, else ERR_FTPERROR with number 1).
int ReadFtpReply(Transfer& t, qvNetObject* node, int* code, std::string* last);
// Reply parsers shared with the fuzz target: the leading code of an FTP line (-1 when there
// is none), and the PASV numbers (ERR_FTPERROR with number 2 when they are not six of 0..255).
int FtpReplyCode(std::string_view line);
int ParsePasvReply(std::string_view line, int* port);
// A "150 ... (N bytes)" total, else 0.
uint64_t FtpAnnouncedSize(std::string_view line);

}  // namespace qv

// The transfer commands and what HTTP and FTP share: options in their order of checks,
// connections that never raise script events, line reading of any length, progress.
#include "libs/network/transfer.h"

#include <algorithm>
#include <memory>
#include <new>

#include "libs/network/net_objects.h"
#include "platform/linux/files.h"
#include "platform/linux/sockets.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/option_tables.h"
#include "runtime/runtime_state.h"

namespace qv {
namespace {

constexpr size_t kOptionMax = 255;
constexpr uint64_t kReserveMax = 16u << 20;
constexpr int kOptionsArg = 2, kProgressArg = 3, kUserDataArg = 4;

bool Aborted() {
    return Runtime().abortFlag.load(std::memory_order_relaxed) != 0;
}

// Keeps the first kUrlPartMax bytes of a line and counts the rest.
class LineSink final : public ReceiveSink {
public:
    explicit LineSink(std::string* line) : line_(line) { line_->clear(); }
    int Put(const uint8_t* bytes, size_t length) override {
        const size_t keep = std::min(length, kUrlPartMax - std::min(kUrlPartMax, line_->size()));
        line_->append(reinterpret_cast<const char*>(bytes), keep);
        longer = longer || keep < length;
        return 0;
    }
    bool longer = false;

private:
    std::string* line_;
};

struct FileCloser {
    void operator()(qvFile* file) const { FileClose(file); }
};
using FileHandle = std::unique_ptr<qvFile, FileCloser>;

// A string field of the options table (a number is taken as its text); false when absent.
bool StringOption(qvVmState* L, const char* name, std::string* out) {
    VmPushString(L, name);
    VmGetTable(L, kOptionsArg);
    const bool present = VmType(L, -1) != VM_TNIL;
    if (present) {
        size_t length = 0;
        const char* text = GetTableArgString(L, -1, &length, name);
        out->assign(text, length);
    }
    VmSetTop(L, -2);
    return present;
}

bool BoolOption(qvVmState* L, const char* name, bool def) {
    uint32_t value = 0;
    return GetTableFieldBool(L, kOptionsArg, name, &value, nullptr) ? value != 0 : def;
}

bool HasControlByte(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

TransferOptions ReadOptions(qvVmState* L, bool download) {
    TransferOptions o;
    if (VmGetTop(L) < kOptionsArg || VmType(L, kOptionsArg) != VM_TTABLE) return o;
    int32_t mode = 0;
    if (GetTableFieldInt(L, kOptionsArg, "transfermode", &mode, nullptr)) o.mode = mode;
    StringOption(L, "file", &o.file);
    StringOption(L, "proxy", &o.proxy);
    o.silentFail = BoolOption(L, "silentfail", false);
    if (download) {
        o.fail404 = BoolOption(L, "fail404", false);
        o.redirect = BoolOption(L, "redirect", true);
        o.post = StringOption(L, "post", &o.postData);
        StringOption(L, "posttype", &o.postType);
    } else {
        o.hasData = StringOption(L, "data", &o.data);
    }
    return o;
}

// What an upload sends: the file it opened, "data", or nothing (an empty file).
struct Upload {
    FileHandle file;
    UploadSource source;
};

// An upload's source: "data" and "file" together are refused; the file is opened and its size
// taken before anything else is checked.
int OpenUploadSource(const TransferOptions& o, Upload* upload) {
    if (o.hasData && !o.file.empty()) return ERR_WRONGUSAGE;
    if (o.hasData) {
        upload->source.data = &o.data;
        upload->source.size = int64_t(o.data.size());
        return 0;
    }
    if (o.file.empty()) return 0;
    upload->file.reset(FileOpen(o.file.c_str(), QV_FILE_READ));
    if (upload->file == nullptr) return ErrorWithText(ERR_READFILE, o.file.c_str());
    FileSeek(upload->file.get(), 0, QV_SEEK_END);
    upload->source.size = FileSeek(upload->file.get(), 0, QV_SEEK_BEGINNING);
    upload->source.file = upload->file.get();
    return 0;
}

// The checks that come before any connection, in their order.
int CheckOptions(const TransferOptions& o, bool download, Upload* upload) {
    if (!download) {
        if (const int code = OpenUploadSource(o, upload)) return code;
    }
    if (download && o.post && o.postData.empty()) return ERR_WRONGUSAGE;
    if (o.mode != kFtpBinary && o.mode != kFtpAscii) return ERR_WRONGUSAGE;
    if (o.proxy.size() > kOptionMax || o.postType.size() > kOptionMax ||
        o.file.size() > kUrlPartMax || HasControlByte(o.postType))
        return ERR_WRONGUSAGE;
    return 0;
}

int RunDownload(Transfer& t, const std::string& url, DownloadSink& sink) {
    ParsedUrl parsed;
    if (const int code = ParseUrl(url, false, t.options.proxy, &parsed)) return code;
    if (parsed.scheme == UrlScheme::Ftp) return FtpTransfer(t, parsed, &sink, nullptr);
    return HttpDownload(t, url, sink);
}

int RunUpload(Transfer& t, const std::string& url, const UploadSource& source) {
    ParsedUrl parsed;
    if (const int code = ParseUrl(url, true, t.options.proxy, &parsed)) return code;
    return FtpTransfer(t, parsed, nullptr, &source);
}

// Both commands: the results, or with "silentfail" the error's text and -1.
int TransferFile(qvVmState* L, bool download) {
    CheckArgCount(L, download ? 1 : 2, 4);
    const std::string url = GetArgString(L, 1, nullptr);
    // An upload's options say what to send: without them nothing would be stored.
    if (!download && VmType(L, kOptionsArg) != VM_TTABLE) {
        SetErrorNumber(kOptionsArg);
        RaiseError(L, ERR_TABEXPECTED);
    }
    const bool progress = VmGetTop(L) >= kProgressArg;
    if (progress && VmType(L, kProgressArg) != VM_TFUNCTION) {
        SetErrorNumber(kProgressArg);
        RaiseError(L, ERR_FUNCEXPECTED);
    }
    OpenSocketLibrary();
    const TransferOptions options = ReadOptions(L, download);
    Upload upload;
    int code = CheckOptions(options, download, &upload);
    DownloadSink sink(options.file);
    if (code == 0) {
        Transfer transfer(L, options, progress, VmGetTop(L) >= kUserDataArg);
        if (download) {
            code = RunDownload(transfer, url, sink);
        } else {
            code = RunUpload(transfer, url, upload.source);
        }
        code = transfer.Settle(code);
    }
    if (code != 0) {
        if (!options.silentFail || code == ERR_USERABORT) return code;
        char text[1024];
        FormatErrorMessage(code, text, sizeof text);
        VmPushString(L, text);
        VmPushNumber(L, -1);
        return 2;
    }
    if (!download) return 0;
    VmPushLString(L, sink.memory().data(), sink.memory().size());
    VmPushNumber(L, double(sink.count()));
    return 2;
}

}  // namespace

DownloadSink::~DownloadSink() {
    if (file_ != nullptr) FileClose(file_);
}

int DownloadSink::Open() {
    if (name_.empty() || file_ != nullptr) return 0;
    file_ = FileOpen(name_.c_str(), QV_FILE_WRITE);
    if (file_ != nullptr) return 0;
    return ErrorWithText(ERR_WRITEFILE, name_.c_str());
}

int DownloadSink::Put(const uint8_t* bytes, size_t length) {
    if (file_ != nullptr) {
        if (FileWrite(file_, bytes, int64_t(length)) != int64_t(length))
            return ErrorWithText(ERR_WRITEFILE, name_.c_str());
    } else {
        if (length > kMemoryDownloadMax - memory_.size()) return ERR_MEM;
        try {
            memory_.append(reinterpret_cast<const char*>(bytes), length);
        } catch (const std::bad_alloc&) {
            return ERR_MEM;
        }
    }
    count_ += length;
    return 0;
}

int DownloadSink::Expect(uint64_t total) {
    if (file_ != nullptr) return 0;
    if (total > kMemoryDownloadMax - memory_.size()) return ERR_MEM;
    try {
        // Room grows with the bytes that come, not with what a server announces.
        memory_.reserve(memory_.size() + size_t(std::min<uint64_t>(total, kReserveMax)));
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    return 0;
}

Transfer::~Transfer() {
    while (!open_.empty()) Close(open_.back());
}

int Transfer::Connect(const std::string& host, int port, qvNetObject** node) {
    if (const int code = ConnectToHost(L, {0, nullptr}, host.c_str(), port, node)) return code;
    if (*node == nullptr) return ERR_USERABORT;
    (*node)->dataReported = (*node)->closeReported = true;
    open_.push_back(*node);
    return 0;
}

int Transfer::ConnectAddress(uint32_t address, int port, qvNetObject** node) {
    return Connect(DottedAddress(address), port, node);
}

void Transfer::Close(qvNetObject* node) {
    open_.erase(std::remove(open_.begin(), open_.end(), node), open_.end());
    CloseNetObject(L, node);
}

int Transfer::SendAll(qvNetObject* node, std::string_view bytes) {
    size_t sent = 0;
    const int status =
        SendBuffer(L, node, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &sent);
    if (Aborted()) return ERR_USERABORT;
    if (status >= 1000) return status;  // the progress function's error or stop
    return sent == bytes.size() ? 0 : ERR_SENDDATA;
}

int Transfer::ReadLine(qvNetObject* node, std::string* line, bool* longer) {
    LineSink sink(line);
    const int code = Receive(node, RECEIVELINE, 0, sink);
    if (longer != nullptr) *longer = sink.longer;
    return code;
}

int Transfer::Receive(qvNetObject* node, int mode, size_t count, ReceiveSink& sink) {
    int status = 0;
    size_t delivered = 0;
    const int error = ReceiveIntoBuffer(L, node, mode, count, true, sink, &status, &delivered);
    return error != 0 ? error : ReceiveStatusCode(status);
}

void Transfer::Progress(qvNetObject* node, bool on, uint64_t total) {
    node->progress = on && progress_;
    node->hasUserData = userData_;
    node->progressCount = 0;
    node->progressTotal = total;
}

int Transfer::Settle(int code) {
    if (code != ERR_USERABORT || Aborted()) return code;
    stopped_ = true;
    return 0;
}

}  // namespace qv

int DownloadFile(qvVmState* L) {
    return qv::TransferFile(L, true);
}

int UploadFile(qvVmState* L) {
    return qv::TransferFile(L, false);
}

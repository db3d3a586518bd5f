// ARexx-style public ports between processes: one AF_UNIX SOCK_SEQPACKET listening socket per
// port, in the per-user directory QV_REXX_DIR (else PrivateRuntimeDir("rexx")). Port names are
// case-sensitive; a name that does not fit a socket path (or holds "/" or starts with "#") is
// stored as "#" and a hash of it. Finding a port means connecting to it; a socket nobody
// listens on counts as absent.
//
// A sender connects, sends one packet {u32 action, argument 0 bytes} and, unless the action
// carries kRexxNonReturn, reads one packet {s32 rc1, s32 rc2, result bytes} on the same
// connection. Numbers are little-endian. A message holds at most kMaxRexxArgument bytes; a
// larger one is refused (its connection closed). The end of a connection before its reply is
// the end of the peer, never a hang.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

inline constexpr uint32_t kRexxCommand = 0x01020000;  // command, result requested
inline constexpr uint32_t kRexxScript = 0x01060000;   // the same, argument 0 the script text
inline constexpr uint32_t kRexxNonReturn = 0x00100000;
inline constexpr uint32_t kRexxResult = 0x00020000;
inline constexpr size_t kMaxRexxArgument = 1 << 20;

std::string RexxDirectory();
// The socket of a port in dir.
std::string RexxSocketPath(const std::string& dir, std::string_view port);

std::string EncodeRexxMessage(uint32_t action, std::string_view argument);
bool DecodeRexxMessage(std::span<const uint8_t> packet, uint32_t* action, std::string* argument);
std::string EncodeRexxReply(int32_t rc1, int32_t rc2, std::string_view result);
bool DecodeRexxReply(std::span<const uint8_t> packet, int32_t* rc1, int32_t* rc2,
                     std::string* result);

// A file descriptor that closes itself.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(other.Release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept;
    ~Descriptor();
    int Get() const { return fd_; }
    int Release();

private:
    int fd_ = -1;
};

// The sending side of one message.
class RexxConnection {
public:
    enum class Reply { kPending, kArrived, kClosed };

    // Connects to port; false when there is no such port.
    bool Open(std::string_view port);
    // Sends the message; false when the peer is gone or the message is too large.
    bool Send(uint32_t action, std::string_view argument);
    // Takes the reply when it has arrived, without waiting.
    Reply TakeReply(int32_t* rc1, int32_t* rc2, std::string* result);
    int Fd() const { return fd_.Get(); }

private:
    Descriptor fd_;
};

// Whether a port of that name is listening.
bool RexxPortExists(std::string_view port);

// A message received at a public port; answered (or, when non-returning, dropped) through
// the port.
struct RexxMessage {
    uint32_t action = 0;
    std::string argument;
    Descriptor connection;
};

// The receiving side: a public port of this process.
class RexxPort {
public:
    // 0, ERR_PORTNOTAVAIL when a live port has the name, ERR_CREATEPORT.
    static int Create(std::string_view name, std::unique_ptr<RexxPort>* out);
    // Answers every waiting message with "" and removes the socket.
    ~RexxPort();

    // Accepts waiting connections and queues the messages that arrived, without blocking.
    void Receive();
    // The next queued message (after Receive), or none.
    std::unique_ptr<RexxMessage> Next();
    // Replies rc1 and rc2 with result when the sender asked for one; a non-returning message
    // is only dropped.
    static void Reply(std::unique_ptr<RexxMessage> message, std::string_view result,
                      int32_t rc1 = 0, int32_t rc2 = 0);
    // The descriptors to wait on for new messages.
    std::vector<int> Descriptors() const;
    const std::string& Name() const { return name_; }

private:
    RexxPort() = default;
    std::string name_;
    std::string path_;
    Descriptor listener_;
    std::vector<Descriptor> pending_;  // accepted, message not read yet
    std::deque<std::unique_ptr<RexxMessage>> queue_;
};

}  // namespace qv

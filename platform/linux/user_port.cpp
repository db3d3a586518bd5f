#include "platform/linux/user_port.h"

#include <cstring>
#include <deque>
#include <memory>
#include <string>

#include "engine/error_codes.h"
#include "platform/linux/blocks.h"
#include "platform/linux/memory.h"
#include "platform/linux/rexx_ports.h"

namespace qv {
namespace {

std::unique_ptr<RexxPort> port;
std::deque<std::string> posted;  // by tests, ahead of the port's messages

// A block holding the prefix and text; none when memory is short.
char* MessageBlock(std::string_view text, size_t* size) {
    auto* block = static_cast<char*>(AllocMemBlock(text.size() + 2, 0));
    if (block == nullptr) return nullptr;
    block[0] = 'x', block[1] = '\0';
    std::memcpy(block + 2, text.data(), text.size());
    *size = text.size() + 2;
    return block;
}

}  // namespace

std::vector<int> UserPortDescriptors() {
    return port ? port->Descriptors() : std::vector<int>();
}

void CloseUserPort() {
    port.reset();
    posted.clear();
}

namespace platform::testing {

bool PostUserMessage(std::string_view text) {
    return CatchAllocFailure(false, [&] { return posted.emplace_back(text), true; });
}

}  // namespace platform::testing
}  // namespace qv

int CreatePublicPort(std::string_view name) {
    qv::port.reset();
    return qv::RexxPort::Create(name, &qv::port);
}

int SendPortMessage(std::string_view port, std::string_view text) {
    if (qv::port && qv::port->Name() == port) return ERR_WRONGUSAGE;
    if (text.size() > qv::kMaxRexxArgument) return ERR_WRONGUSAGE;
    qv::RexxConnection connection;
    if (!connection.Open(port) || !connection.Send(qv::kRexxNonReturn, text)) return ERR_FINDPORT;
    return 0;
}

char* GetPortMessage(size_t* size) {
    if (!qv::posted.empty()) {
        char* block = qv::MessageBlock(qv::posted.front(), size);
        if (block != nullptr) qv::posted.pop_front();
        return block;
    }
    if (!qv::port) return nullptr;
    qv::port->Receive();
    std::unique_ptr<qv::RexxMessage> message = qv::port->Next();
    if (message == nullptr) return nullptr;
    char* block = qv::MessageBlock(message->argument, size);
    qv::RexxPort::Reply(std::move(message), "");
    return block;
}

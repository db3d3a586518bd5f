#include "platform/linux/user_port.h"

#include <cstring>
#include <deque>
#include <string>

#include "platform/linux/blocks.h"
#include "platform/linux/memory.h"

namespace qv {
namespace {

std::deque<std::string> waiting;

}  // namespace

std::vector<int> UserPortDescriptors() {
    return {};
}

void CloseUserPort() {
    waiting.clear();
}

namespace platform::testing {

bool PostUserMessage(std::string_view text) {
    return CatchAllocFailure(false, [&] { return waiting.emplace_back(text), true; });
}

}  // namespace platform::testing
}  // namespace qv

char* GetPortMessage(size_t* size) {
    if (qv::waiting.empty()) return nullptr;
    const std::string& text = qv::waiting.front();
    auto* block = static_cast<char*>(AllocMemBlock(text.size() + 2, 0));
    if (block == nullptr) return nullptr;
    block[0] = 'x', block[1] = '\0';
    std::memcpy(block + 2, text.data(), text.size());
    *size = text.size() + 2;
    qv::waiting.pop_front();
    return block;
}

// Base64 text comes from files anywhere: any bytes decode or are refused, and what our
// encoder makes decodes back to the bytes it came from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "libs/dos/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> input(data, size);
    std::vector<uint8_t> decoded;
    qv::DecodeBase64(input, &decoded);
    std::string text = qv::EncodeBase64Lines(input);
    std::vector<uint8_t> back;
    if (!qv::DecodeBase64(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
                          &back) ||
        back != std::vector<uint8_t>(input.begin(), input.end())) {
        std::abort();
    }
    return 0;
}

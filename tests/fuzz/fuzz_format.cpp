// FormatStr reads its specifications from script text: any format with any arguments must
// format or fail with an error code. Input: the format, then the arguments, each after a
// zero byte; an argument "n" followed by eight bytes is that double, any other a string.
#include <cstring>

#include "tests/fuzz/string_fuzz_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static qv::fuzz::StringEngine engine;
    const std::vector<std::string_view> fields = qv::fuzz::Fields(data, size);
    engine.Run([&] {
        engine.Call("formatstr", [&](qvVmState* L) {
            for (std::string_view field : fields) {
                if (field.size() == 9 && field[0] == 'n') {
                    double n;
                    std::memcpy(&n, field.data() + 1, sizeof n);
                    VmPushNumber(L, n);
                } else {
                    qv::fuzz::PushField(L, field);
                }
            }
            return static_cast<int>(fields.size());
        });
    });
    return 0;
}

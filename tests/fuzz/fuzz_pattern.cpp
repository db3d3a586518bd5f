// Patterns come from scripts and subjects from anywhere: any pattern, subject and
// replacement must match, fail or raise an error code, without crashing or running on past
// the abort flag. Input: subject, pattern and replacement text, separated by zero bytes.
#include "tests/fuzz/string_fuzz_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static qv::fuzz::StringEngine engine;
    std::vector<std::string_view> fields = qv::fuzz::Fields(data, size);
    fields.resize(3);
    qvVmState* L = engine.L;
    engine.Run([&] {
        engine.Call("patternreplacestr", [&](qvVmState*) {
            for (std::string_view field : fields) qv::fuzz::PushField(L, field);
            return 3;
        });
        VmSetTop(L, 0);
        const int status = engine.Call("patternfindstr", [&](qvVmState*) {
            qv::fuzz::PushField(L, fields[0]);
            qv::fuzz::PushField(L, fields[1]);
            return 2;
        });
        // The iterator at index 1: up to 64 matches.
        for (int i = 0; status == 0 && i < 64; ++i) {
            VmSetTop(L, 1);
            VmPushValue(L, 1);
            if (VmPCall(L, 0, -1, 0) != 0 || VmGetTop(L) == 1) break;
        }
    });
    return 0;
}

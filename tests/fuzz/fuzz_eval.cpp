// Eval takes text from users and files: any expression and any variable names must evaluate
// or fail with an error code. Input: the expression, then variable names, each after a zero
// byte; variable i has the value i.
#include "tests/fuzz/string_fuzz_engine.h"

namespace {

void PushOptions(qvVmState* L, const std::vector<std::string_view>& fields) {
    VmNewTable(L);
    VmPushString(L, "variables");
    VmNewTable(L);
    for (size_t i = 1; i < fields.size(); ++i) {
        VmNewTable(L);
        VmPushString(L, "name");
        qv::fuzz::PushField(L, fields[i]);
        VmRawSet(L, -3);
        VmPushString(L, "value");
        VmPushNumber(L, static_cast<double>(i));
        VmRawSet(L, -3);
        VmRawSetI(L, -2, static_cast<int>(i - 1));
    }
    VmRawSet(L, -3);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static qv::fuzz::StringEngine engine;
    const std::vector<std::string_view> fields = qv::fuzz::Fields(data, size);
    engine.Run([&] {
        engine.Call("eval", [&](qvVmState* L) {
            qv::fuzz::PushField(L, fields[0]);
            if (fields.size() == 1) return 1;
            PushOptions(L, fields);
            return 2;
        });
    });
    return 0;
}

// An engine with the string library for the fuzz targets of Eval, the patterns and
// FormatStr. Inputs are fields separated by zero bytes; each call runs under protection, and
// a watchdog sets the abort flag when one input runs longer than a second, which the pattern
// matcher honours (backtracking patterns may legitimately run for hours).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/host.h"
#include "engine/vm.h"
#include "libs/string/string_library.h"

namespace qv::fuzz {

class StringEngine {
public:
    StringEngine() : L(VmOpen()) {
        VmCPCall(
            L, [](qvVmState* state) { return RegisterStringLibrary(state); }, nullptr);
        std::thread([this] { Watch(); }).detach();
    }

    // Runs one input's calls under the watchdog; afterwards the stack is empty and the abort
    // flag clear.
    template <typename Body>
    void Run(Body body) {
        started_.store(Now());
        body();
        started_.store(0);
        VmSetTop(L, 0);
        Host(L).AbortFlag().store(0);
    }

    // Calls the global name with the arguments that push pushes (returning their count);
    // the results stay on the stack. Returns the status.
    template <typename Push>
    int Call(const char* name, Push push) {
        VmPushString(L, name);
        VmGetTable(L, VM_GLOBALSINDEX);
        return VmPCall(L, push(L), -1, 0);
    }

    qvVmState* const L;

private:
    static int64_t Now() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    void Watch() {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const int64_t started = started_.load();
            if (started != 0 && Now() - started > 1000) Host(L).AbortFlag().store(1);
        }
    }
    std::atomic<int64_t> started_{0};
};

// The fields of an input, split at zero bytes.
inline std::vector<std::string_view> Fields(const uint8_t* data, size_t size) {
    std::vector<std::string_view> fields;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    for (size_t end; (end = input.find('\0', start)) != std::string_view::npos; start = end + 1) {
        fields.push_back(input.substr(start, end - start));
    }
    fields.push_back(input.substr(start));
    return fields;
}

inline void PushField(qvVmState* L, std::string_view field) {
    VmPushLString(L, field.data(), field.size());
}

}  // namespace qv::fuzz

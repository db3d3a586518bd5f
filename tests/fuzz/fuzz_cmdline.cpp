// Command lines come from users and scripts that start the player: any argument vector must
// parse to a code without reading or writing beyond a buffer or leaking. The input's first
// byte says whether an applet is linked (bit 0); the rest are the words, split at NUL bytes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/debug_output.h"
#include "platform/linux/program.h"
#include "platform/linux/startup_options.h"
#include "runtime/command_line.h"
#include "runtime/runtime_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::vector<std::string> words(1, "quorvella");
    std::string word;
    for (size_t i = 1; i < size && words.size() < 512; ++i) {
        if (data[i] != 0) {
            word.push_back(static_cast<char>(data[i]));
            continue;
        }
        words.push_back(word);
        word.clear();
    }
    if (!word.empty()) words.push_back(word);
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());

    auto options = std::make_unique<qvStartupOptions>();
    auto header = std::make_unique<qvScriptHeader>();
    SetDisplayDefaults(header.get(), options.get());
    qv::Runtime().appletLinked = data[0] & 1;
    qv::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), options.get(), header.get());
    qv::FreeUnknownOptions(options.get());
    qv::ResetRuntimeState();
    qv::ResetStartupOptionSeams();
    SelectDebugOutput("");
    PlatformShutdown();  // the temporary directory that an icon in "T:" made
    return 0;
}

// Texts of the desktop that other programs write: the clipboard store, icon sidecar files and
// their tool types. The first byte picks the reader; every reader must take any bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "libs/system/tool_types.h"
#include "platform/linux/clipboard.h"
#include "platform/linux/icons.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::span<const uint8_t> bytes(data + 1, size - 1);
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    switch (data[0] % 3) {
        case 0: {
            std::string read;
            if (qv::ClipboardKindOf(bytes) == QV_CLIPBOARD_TEXT && !qv::ReadFtxt(bytes, &read)) {
                __builtin_trap();
            }
            if (read.size() > bytes.size()) __builtin_trap();
            break;
        }
        case 1: {
            qvIconInfo icon;
            // What was read writes back to what reads the same.
            if (qv::ParseIcon(text, &icon)) {
                qvIconInfo again;
                if (!qv::ParseIcon(qv::FormatIcon(icon), &again)) __builtin_trap();
                if (again.toolTypes != icon.toolTypes) __builtin_trap();
            }
            break;
        }
        default: {
            qv::ToolType toolType;
            if (qv::ParseToolType(text, &toolType) && toolType.key.size() > text.size()) {
                __builtin_trap();
            }
            break;
        }
    }
    return 0;
}

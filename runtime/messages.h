// The texts users read: every console, requester and error text is a message number (0 to
// 667) with an English default, translated through the catalog when one is open.
#pragma once

#include <array>
#include <cstdint>

#include "engine/vm.h"

struct qvMessage {
    uint32_t number;
    const char* text;  // nullptr: the number has no text
};

inline constexpr uint32_t kMessageCount = 668;
inline constexpr int kFirstErrorCode = ERR_MEM;
inline constexpr int kErrorCodeCount = 499;  // 1000 to 1498
// Codes from here on are texts that the script registered.
inline constexpr int kFirstRegisteredCode = kFirstErrorCode + kErrorCodeCount;
// A code whose entry in qvErrorMessageMap is this has no message of its own.
inline constexpr uint32_t kNoMessage = 0xFFFFFFFF;

extern const std::array<qvMessage, kMessageCount> qvMessageTable;
// The message number of each code from 1000 to 1498.
extern const std::array<uint32_t, kErrorCodeCount> qvErrorMessageMap;
// ERR_NONE and every built-in error code as script constants, ending with an empty row.
extern const qvConstant qvErrorConstants[];

namespace qv {

// Message numbers that the run-time core uses by name.
enum : uint32_t {
    kMsgOutOfMemory = 13,
    kMsgUnknownErrorCode = 91,
    kMsgCurrentLine = 92,
    kMsgDone = 95,
    kMsgOpeningScript = 97,
    kMsgCompilingScript = 106,
    kMsgLoadingPlugin = 107,
    kMsgFailed = 108,
    kMsgFile = 194,
    kMsgSkipped = 195,
    kMsgInFunction = 280,
    kMsgOpeningFile = 286,
    kMsgLoadingApplet = 287,
    kMsgError = 402,
    kMsgHelpWindow = 584,
    kMsgHelpFullScreen = 585,
    kMsgHelpBackfill = 586,
    kMsgHelpCompiler = 587,
    kMsgHelpScaling = 589,
    kMsgHelpMiscellaneous = 590,
    kMsgLoadPlugin = 614,
    kMsgReason = 616,
    kMsgHelpExport = 648,
    kMsgOpeningFont = 649,
};

}  // namespace qv

// The catalog's translation of message number, else its default text ("" when it has none).
const char* GetMessageText(uint32_t number);

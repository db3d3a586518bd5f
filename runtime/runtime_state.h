// The run-time core's state: the per-run records that the registry hands to libraries
// ("clargs", "applet") and the one resettable record behind every core service, so that a
// whole run can happen many times in one process.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "platform/linux/abort_flag.h"
#include "runtime/random.h"

// --- Per-run records ---

// An option the command line did not know, kept for GetCommandLine.
struct qvUnknownOption {
    qvUnknownOption* next;
    char* name;
    char* value;  // nullptr when no value followed
};

// Allocated cleared for each run; libraries reach it through the registry key "clargs".
struct qvStartupOptions {
    uint32_t appletFlag;  // 1 once the opened file proved to be an applet container
    char appletPath[1024];
    char programPath[1024];
    char compilerOutputPath[1024];
    char scriptAlias[256];  // shown in place of the path in "Opening script" when set
    char scriptArgument[1024];
    uint32_t quiet;
    uint32_t noSound;
    int32_t masterVolume;
    uint32_t compileRequested;
    uint32_t executableTypeBits;
    char errorText[1024];  // the final error message of the run
    uint32_t compress;
    uint32_t overwrite;
    int32_t recorderFrameRate;
    int32_t recorderQuality;
    qvUnknownOption* unknownOptions;
    uint32_t lockSettings;
};

// The backfill block of the display defaults: 1060 bytes.
struct qvBackfill {
    uint32_t mode;
    int32_t startColour;
    int32_t endColour;
    int32_t pictureX;
    int32_t pictureY;
    uint32_t brushId;
    uint32_t scalePicture;
    int32_t transparentColour;
    char brushFile[1024];
    uint32_t coverTitleBar;  // the backfill covers the screen's title bar too
};
static_assert(sizeof(qvBackfill) == 1060);

struct qvDisplayDefaults {
    uint32_t styleFlags;
    int32_t screenWidth;  // -1: not given
    int32_t screenHeight;
    int32_t depth;
    int32_t scaleWidth;  // 0: not given, negative: percent
    int32_t scaleHeight;
    qvBackfill backfill;
    uint32_t displayMode;  // 0 default, 1 window, 2 full screen, 5 own screen, 6 fake full screen
    int32_t hideTitleBar;  // -1: not given
    uint32_t overrideBits;
};

// One stretch of the program's lines that came from one source file: lines firstLine to
// lastLine of the container named containerName are line lineOffset + 1 onward of
// sourceName. Both names are blocks of the run-time allocator owned by the entry.
struct qvLineMapEntry {
    qvLineMapEntry* next;
    uint32_t firstLine;
    uint32_t lastLine;
    uint32_t lineOffset;
    char* sourceName;
    char* containerName;
};

// A file linked into the applet: size bytes at offset of the container file.
struct qvLinkedFile {
    qvLinkedFile* next;
    char name[1024];  // "::font:" followed by the font name for linked fonts
    char containerPath[1024];
    uint32_t offset;
    uint32_t size;
};

struct qvPreloadItem;

// Allocated cleared for each run; libraries reach it through the registry key "applet".
struct qvScriptHeader {
    uint8_t* programChunk;
    uint32_t programChunkSize;
    uint8_t* secondChunk;
    uint32_t secondChunkSize;
    char info[5][256];  // applet information strings 1 to 5
    qvPreloadItem* preloadItems;
    qvLineMapEntry* lineMap;
    qvLinkedFile* linkedFiles;
    uint32_t settingsLocked;
    uint32_t wholeScreenFirstDisplay;
    qvDisplayDefaults display;
    // A title section's text, waiting for the default display item: that item takes it
    // whenever it is made.
    char pendingTitle[256];
};

// The display defaults of a fresh run, and the option defaults that go with them.
void SetDisplayDefaults(qvScriptHeader* header, qvStartupOptions* options);

// --- The run-time core's state ---

// The error machinery shared by the engine's host and every library.
struct qvErrorText;
struct qvErrorState {
    uint32_t lastError;  // cleared before every command but GetLastError
    uint32_t number;     // the numeric message argument ("%d", "%ld")
    char text[512];      // the text message argument ("%s"); at most 511 characters
    int32_t line;        // -1: unknown
    char command[64];    // the current command or function, "----" when none
    char sourceName[1024];
    qvErrorText* texts;  // script-registered texts, from code 1499 on
    uint32_t exitOnError;
    int32_t nestedCalls;  // script callbacks that commands are running
    uint32_t reportLocations;
};

struct qvCatalog;
struct qvAttrHandlerNode;
struct qvObjectListNode;
struct qvCommandTableNode;
struct qvPluginNode;

struct qvTempFile {
    qvTempFile* next;
    char* path;  // a block of the run-time allocator owned by the node
};

namespace qv {

// The icon sizes of the command line (16 to 512 pixels).
inline constexpr int kIconCount = 7;

struct RuntimeState {
    // Set by End, a close request, Ctrl-C (from a signal handler) and errors that end the
    // script; the interpreter tests it before every instruction.
    AbortFlag abortFlag;
    qvErrorState error{0, 0, "", -1, "----", "?", nullptr, 1, 0, 0};

    // Global attributes (tags 1, 2, 6) and the handler chains for every other tag.
    int32_t eventTimeout = 1500;
    uint32_t quiet = 0;
    uint32_t preloading = 0;
    qvAttrHandlerNode* setHandlers = nullptr;
    qvAttrHandlerNode* getHandlers = nullptr;

    qvObjectListNode* objectLists = nullptr;
    qvCommandTableNode* commandTables = nullptr;
    qvRandom48 random = SeededRandom48(0);
    qvCatalog* catalog = nullptr;

    // The call trace switch and the one command that keeps the last error.
    bool debugTrace = false;
    qvCFunction getLastError = nullptr;

    uint32_t linkOffset = 0;
    // Set by the display subsystem once the first display is open: objects made before
    // then (while preloading) keep their pixels in ARGB until it converts them.
    uint32_t displayOpen = 0;
    uint32_t appletLinked = 0;
    uint32_t debugDevice = 0;  // 1 when "DEBUGDEVICE" chose the output
    uint32_t startedFromShell = 1;
    // Export file names (blocks of the run-time allocator), nullptr when not asked for.
    char* exportCommands = nullptr;
    char* exportConstants = nullptr;
    char* exportPlugins = nullptr;
    qvTempFile* tempFiles = nullptr;
    // From the command line: the icon files (blocks of the run-time allocator, nullptr when
    // not given) and the "PRIVATE3" text for the platform.
    char* iconPaths[kIconCount] = {};
    char private3[1024] = "";
    // Owned by the plugin host, which unloads the plugins before the state is reset.
    qvPluginNode* plugins = nullptr;
};

RuntimeState& Runtime();

// Frees everything the state owns and returns it to the state of a fresh process.
void ResetRuntimeState();
// Frees the records of the run's temporary files, deleting the files first when asked.
void FreeTempFiles(bool deleteFiles);
// Frees the export file names and forgets them.
void FreeExportNames();

}  // namespace qv

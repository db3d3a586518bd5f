// The run-time state: a reset gives back everything the state owns, and a fresh run starts
// from the documented defaults.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/linux/catalog.h"
#include "platform/linux/memory.h"
#include "runtime/attributes.h"
#include "runtime/errors.h"
#include "runtime/exports.h"
#include "runtime/objects.h"
#include "runtime/runtime_state.h"

namespace {

int Handler(qvVmState*, uint32_t, int32_t) {
    return 0;
}

char* Block(const char* text) {
    auto* block = static_cast<char*>(AllocMemBlock(std::strlen(text) + 1, 0));
    std::strcpy(block, text);
    return block;
}

TEST(RuntimeState, AResetFreesEverythingTheStateOwns) {
    qv::ResetRuntimeState();
    size_t before = qv::GetMemoryStats().liveBlocks;
    static const qvCommandEntry rows[] = {{"Cmd", nullptr}, {nullptr, nullptr}};
    static qvObjectHeader* head = nullptr;
    const uint8_t catalog[] = {'F', 'O', 'R', 'M', 0, 0, 0, 4, 'C', 'T', 'L', 'G'};
    qv::RuntimeState& rt = qv::Runtime();
    ASSERT_EQ(RegisterErrorText("text"), 1499);
    ASSERT_EQ(AddSetAttrHandler(Handler), 0);
    ASSERT_EQ(RegisterCommandTable(rows, "lib"), 0);
    ASSERT_EQ(RegisterObjectList(&head), 0);
    rt.catalog = qv::ParseCatalog(catalog, 0);
    ASSERT_NE(rt.catalog, nullptr);
    rt.tempFiles = static_cast<qvTempFile*>(AllocMemBlock(sizeof(qvTempFile), 1));
    rt.tempFiles->path = Block("T:temp");
    rt.exportCommands = Block("commands.txt");
    rt.abortFlag = 1;
    rt.error.nestedCalls = 3;
    EXPECT_GT(qv::GetMemoryStats().liveBlocks, before);

    qv::ResetRuntimeState();
    EXPECT_EQ(qv::GetMemoryStats().liveBlocks, before);
    EXPECT_EQ(rt.abortFlag.load(), 0u);
    EXPECT_EQ(rt.error.nestedCalls, 0);
    EXPECT_EQ(rt.error.exitOnError, 1u);
    EXPECT_EQ(rt.error.line, -1);
    EXPECT_STREQ(rt.error.command, "----");
    EXPECT_STREQ(rt.error.sourceName, "?");
    EXPECT_EQ(rt.eventTimeout, 1500);
    EXPECT_EQ(rt.startedFromShell, 1u);
}

TEST(RuntimeState, DisplayAndOptionDefaults) {
    qvScriptHeader header;
    qvStartupOptions options;
    std::memset(&header, 0x5A, sizeof header);
    std::memset(&options, 0, sizeof options);
    SetDisplayDefaults(&header, &options);
    const qvDisplayDefaults& d = header.display;
    EXPECT_EQ(d.styleFlags, 0u);
    EXPECT_EQ(d.scaleWidth, 0);
    EXPECT_EQ(d.scaleHeight, 0);
    EXPECT_EQ(d.screenWidth, -1);
    EXPECT_EQ(d.screenHeight, -1);
    EXPECT_EQ(d.depth, -1);
    EXPECT_EQ(d.displayMode, 0u);
    EXPECT_EQ(d.hideTitleBar, -1);
    EXPECT_EQ(d.overrideBits, 0u);
    EXPECT_EQ(d.backfill.mode, 0u);
    EXPECT_EQ(d.backfill.transparentColour, -1);
    EXPECT_EQ(d.backfill.startColour, -1);
    EXPECT_EQ(d.backfill.endColour, -1);
    EXPECT_EQ(d.backfill.pictureX, -100000);
    EXPECT_EQ(d.backfill.pictureY, -100000);
    EXPECT_EQ(d.backfill.brushFile[0], '\0');
    EXPECT_EQ(options.masterVolume, 30);
    EXPECT_EQ(options.executableTypeBits, 8u);
    EXPECT_EQ(options.recorderFrameRate, 50);
    EXPECT_EQ(options.recorderQuality, 90);
}

}  // namespace

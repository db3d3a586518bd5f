// An applet header, registered as "applet" while it lives, whose linked files are stretches
// of containers, as the loader leaves them.
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/vm.h"
#include "platform/linux/lists.h"
#include "platform/linux/memory.h"
#include "runtime/runtime_state.h"

namespace qv::testing {

class LinkedApplet {
public:
    explicit LinkedApplet(qvVmState* L)
        : L_(L), header(static_cast<qvScriptHeader*>(AllocMemBlock(sizeof(qvScriptHeader), 1))) {
        SetRegistryPointer(L_, "applet", header);
    }
    LinkedApplet(const LinkedApplet&) = delete;
    LinkedApplet& operator=(const LinkedApplet&) = delete;
    ~LinkedApplet() {
        SetRegistryPointer(L_, "applet", nullptr);
        DrainList(&header->linkedFiles, FreeMemBlock);
        FreeMemBlock(header);
    }

    // Links name as size bytes at offset of the container file.
    void Link(const char* name, const char* container, uint32_t offset, uint32_t size) {
        auto* file = static_cast<qvLinkedFile*>(AllocMemBlock(sizeof(qvLinkedFile), 1));
        std::strcpy(file->name, name);
        std::strcpy(file->containerPath, container);
        file->offset = offset;
        file->size = size;
        *ListEnd(&header->linkedFiles) = file;
    }

private:
    qvVmState* L_;

public:
    qvScriptHeader* const header;
};

}  // namespace qv::testing

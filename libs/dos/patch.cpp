#include "libs/dos/patch.h"

#include "libs/dos/callbacks.h"
#include "libs/dos/commands.h"
#include "runtime/arguments.h"
#include "runtime/input_pump.h"

namespace qv {
namespace {

constexpr int kCallbackIdx = 4;

// One byte through the layer's single-byte calls, counted into the record.
int ReadOne(qvDosFile* file, int* byte) {
    *byte = FileReadChar(file->handle);
    if (*byte < 0) return ERR_READ;
    ++file->position;
    return 0;
}

int WriteOne(qvDosFile* file, int byte) {
    if (FileWriteChar(file->handle, byte) < 0) return ERR_WRITE;
    if (++file->position > file->size) file->size = file->position;
    return 0;
}

struct PatchFiles {
    qvDosFile *source, *patch, *destination;
};

// The three file objects of the arguments; 0, a lookup error, or ERR_WRONGUSAGE when the
// destination is the source or the patch (reads and writes interleaved on one handle would
// read back what was just written).
int FindFiles(qvVmState* L, PatchFiles* files) {
    if (int code = FileArg(L, 1, &files->source)) return code;
    if (int code = FileArg(L, 2, &files->patch)) return code;
    if (int code = FileArg(L, 3, &files->destination)) return code;
    if (files->destination == files->source || files->destination == files->patch)
        return ERR_WRONGUSAGE;
    return 0;
}

}  // namespace

int ApplyPatch(qvVmState* L) {
    CheckArgCount(L, 3, 4);
    PatchFiles files;
    if (int code = FindFiles(L, &files)) return code;
    auto& [source, patch, destination] = files;
    bool hasCallback = VmGetTop(L) >= kCallbackIdx && VmType(L, kCallbackIdx) != VM_TNIL;
    if (hasCallback) CheckArgFunction(L, kCallbackIdx);
    int64_t size = source->size;
    if (size <= 0) return 0;
    int64_t reported = 0;
    for (int64_t done = 1; done <= size; ++done) {
        int s, p = 255;
        if (int code = ReadOne(source, &s)) return code;
        if (patch->position < patch->size) {
            if (int code = ReadOne(patch, &p)) return code;
        }
        if (int code = WriteOne(destination, s ^ p)) return code;
        // Whole percents, counted exactly so that the last byte reports 100.
        int64_t percent = done * 100 / size;
        if (hasCallback && percent != reported) {
            reported = percent;
            CallbackResult r = CallDosCallback(
                L, kCallbackIdx, [&] { SetField(L, "progress", static_cast<double>(percent)); });
            if (r.code != 0) return r.code;
            // The callback may have closed the files or opened others under their ids.
            if (int code = FindFiles(L, &files)) return code;
        }
        if (RunInputPump(L)) return 0;
    }
    return 0;
}

}  // namespace qv

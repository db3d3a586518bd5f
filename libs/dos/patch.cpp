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

}  // namespace

int ApplyPatch(qvVmState* L) {
    CheckArgCount(L, 3, 4);
    qvDosFile *source, *patch, *destination;
    if (int code = FileArg(L, 1, &source)) return code;
    if (int code = FileArg(L, 2, &patch)) return code;
    if (int code = FileArg(L, 3, &destination)) return code;
    bool hasCallback = VmGetTop(L) >= kCallbackIdx && VmType(L, kCallbackIdx) != VM_TNIL;
    if (hasCallback) CheckArgFunction(L, kCallbackIdx);
    // Reads and writes interleaved on one handle would read back what was just written.
    if (destination == source || destination == patch) return ERR_WRONGUSAGE;
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
        }
        if (RunInputPump(L)) return 0;
    }
    return 0;
}

}  // namespace qv

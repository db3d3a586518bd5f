// The command handlers of the system library beyond its program-control group, and what
// its parts share.
#pragma once

#include "engine/vm.h"
#include "runtime/objects.h"

namespace qv {

// Object types that these commands name.
enum : uint32_t { kLayerType = 22, kTimerType = 53 };

// A flag argument: a boolean or a number, non-zero meaning on.
bool ArgFlag(qvVmState* L, int idx);

// Information.
int GetErrorName(qvVmState* L);
int Assert(qvVmState* L);
int DebugPrompt(qvVmState* L);
int GetVersion(qvVmState* L);
int GetProgramInfo(qvVmState* L);
int GetCommandLine(qvVmState* L);
int GetFileArgument(qvVmState* L);
int GetConstant(qvVmState* L);
int GetType(qvVmState* L);
int GetObjectType(qvVmState* L);
int IIf(qvVmState* L);

// Tables.
int ListItems(qvVmState* L);
int InsertItem(qvVmState* L);
int RemoveItem(qvVmState* L);
int Concat(qvVmState* L);
int Unpack(qvVmState* L);
int CopyTable(qvVmState* L);
int ForEach(qvVmState* L);
int ForEachI(qvVmState* L);
int NextItem(qvVmState* L);
int Pairs(qvVmState* L);
int IPairs(qvVmState* L);
int RawGet(qvVmState* L);
int RawSet(qvVmState* L);
int RawEqual(qvVmState* L);
int GetMetaTable(qvVmState* L);
int SetMetaTable(qvVmState* L);

// Memory and object data.
int GCInfo(qvVmState* L);
int CollectGarbage(qvVmState* L);
int GetMemoryInfo(qvVmState* L);
int SetObjectData(qvVmState* L);
int GetObjectData(qvVmState* L);
int ClearObjectData(qvVmState* L);
int CopyObjectData(qvVmState* L);

// Dates.
int GetDate(qvVmState* L);
int GetTime(qvVmState* L);
int GetWeekday(qvVmState* L);
int GetDateNum(qvVmState* L);
int CompareDates(qvVmState* L);

// Timers, waiting and sorting.
int StartTimer(qvVmState* L);
int StopTimer(qvVmState* L);
int PauseTimer(qvVmState* L);
int ResumeTimer(qvVmState* L);
int ResetTimer(qvVmState* L);
int GetTimer(qvVmState* L);
int WaitTimer(qvVmState* L);
int Wait(qvVmState* L);
int Sort(qvVmState* L);

// The timer list in the object registry; 0 or ERR_MEM.
int RegisterTimerList();
void FreeAllTimers(qvVmState* L);

}  // namespace qv

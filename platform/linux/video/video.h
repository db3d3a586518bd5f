// The video back end of the run: chosen once at start-up, presenting, the input-due word, the
// vertical blank and the waits for host input.
//
// QV_VIDEO=sdl|headless selects the back end; without it the run takes sdl when DISPLAY or
// WAYLAND_DISPLAY is set and SDL's video starts, else headless. StartVideo writes the name of
// the one it took into QV_VIDEO, so that the script can read it. Until StartVideo runs (in
// tests that never start the platform) the headless back end serves.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/linux/video/driver.h"

namespace qv {

const VideoDriver& Video();

// Chooses and starts the back end; 0, or an error code with a text for the error report in
// *detail (a forced back end that does not start, a malformed QV_HEADLESS_INPUT line).
int StartVideo(std::string* detail);
// Presents once more, closes every window and the own screen, and goes back to headless;
// nothing when StartVideo has not run.
void StopVideo();

// Set when host input may be waiting (by the sdl back end's 100 Hz ticker, by headless
// injection, by a wait that saw input); the input poll pumps only while it is set, so that
// its idle path is one relaxed load of this word.
inline std::atomic<uint32_t> inputDueWord{0};
inline std::atomic<uint32_t>& InputDue() {
    return inputDueWord;
}

// Frames are numbered by the refreshes of the display since the video started: refresh N is
// at the N-th 1/refresh boundary of the monotonic clock after the start, where the vertical
// blank wait ends, and shows frame N. A present shows at the next refresh (frame refreshes +
// 1); the vertical blank's own present, and a flip's change after it, at the refresh it waited
// for. Presents for one refresh show one frame, the last picture winning.
uint64_t Refreshes();
// When the count of refreshes reaches count; now when it has.
int64_t RefreshTime(uint64_t count);

// Shows what was drawn into every open window since the last present.
void Present();
// Shows what changed since the last present, without counting a present: a buffer flip that
// copies after the vertical blank shows its picture from that blank on.
void PresentChanges();
// Presents, then waits until host input is pending or the monotonic clock reaches deadline
// (microseconds); true when input is pending (the input-due word is set then).
bool WaitForHostEvent(int64_t deadline);
// Waits for the next 1/refresh boundary of the monotonic clock, presents and counts the
// vertical blank.
void WaitVerticalBlank();

// The presents since the video started.
uint64_t PresentCount();
uint64_t VBlankCount();

}  // namespace qv

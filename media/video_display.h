// Videos on displays: the least of the video code that the display code asks. No video plays
// yet, so no display has one; tests make a display answer that one does.
#pragma once

struct qvDisplay;
struct qvVmState;

// 1 when a video that plays or is paused shows on the display, else 0.
int VideoPlayingOnDisplay(const qvDisplay* display);
// Moves and rescales the videos shown on the display after its size or scaling changed.
void UpdateVideoPositions(qvVmState* L, qvDisplay* display);

namespace qv::media::testing {

// The display that VideoPlayingOnDisplay answers 1 for; none: no display.
void SetVideoPlayingOn(const qvDisplay* display);

}  // namespace qv::media::testing

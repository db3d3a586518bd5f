#include "media/video_display.h"

namespace {

const qvDisplay* playingOn = nullptr;

}  // namespace

int VideoPlayingOnDisplay(const qvDisplay* display) {
    return display != nullptr && display == playingOn ? 1 : 0;
}

void UpdateVideoPositions(qvVmState*, qvDisplay*) {}

namespace qv::media::testing {

void SetVideoPlayingOn(const qvDisplay* display) {
    playingOn = display;
}

}  // namespace qv::media::testing

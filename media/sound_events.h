// The least of the sound side that the event dispatcher calls: the sound event queue (sample
// loops and ends, music and video ends, posted by the players, taken by the dispatcher) and
// the music stream's need for more data. Nothing plays sound yet, so both stay empty outside
// tests, which fill them through the testing entries.
#pragma once

#include <cstdint>

#include "runtime/objects.h"

// Kinds of sound events.
enum : uint32_t {
    QV_SOUNDEVENT_SAMPLEEND = 5,
    QV_SOUNDEVENT_SAMPLELOOP = 6,
    QV_SOUNDEVENT_MUSICEND = 7,
    QV_SOUNDEVENT_VIDEOEND = 8,
};

// Takes the oldest sound event under the queue's lock: 1 with its kind, object and two values,
// or 0 when the queue is empty.
int PollSoundEvent(uint32_t* kind, qvObjectId* id, int32_t* time, int32_t* starts);
// While a streaming music has less data queued than its target: the missing amount (above 0)
// with the music's id and its count value; else 0.
int32_t QueryMusicStreamEvent(qvObjectId* id, int32_t* count);

namespace qv::media {

// Set while a music-buffer handler runs, so that the music code does not ask again from
// inside it.
void SetInMusicCallback(bool on);
bool InMusicCallback();

}  // namespace qv::media

namespace qv::media::testing {

// Queues a sound event as a player would; false when the queue (256 events) is full.
bool PostSoundEvent(uint32_t kind, qvObjectId id, int32_t time, int32_t starts);
// The music stream's need: samples above 0 is what QueryMusicStreamEvent reports until it is
// set back to 0. ResetSoundEvents empties the queue and clears the need.
void SetMusicNeed(qvObjectId id, int32_t samples, int32_t count);
void ResetSoundEvents();

}  // namespace qv::media::testing

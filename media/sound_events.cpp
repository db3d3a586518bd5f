#include "media/sound_events.h"

#include <mutex>

namespace qv::media {
namespace {

constexpr int kQueueSize = 256;

struct SoundEvent {
    uint32_t kind;
    qvObjectId id;
    int32_t time;
    int32_t starts;
};

// Players post from their own threads; the main task takes.
struct SoundEventQueue {
    std::mutex lock;
    SoundEvent events[kQueueSize];
    int head = 0;
    int count = 0;
};

struct MusicNeed {
    qvObjectId id;
    int32_t samples;
    int32_t count;
};

SoundEventQueue queue;
MusicNeed need{};
bool inMusicCallback = false;

}  // namespace

void SetInMusicCallback(bool on) {
    inMusicCallback = on;
}

bool InMusicCallback() {
    return inMusicCallback;
}

namespace testing {

bool PostSoundEvent(uint32_t kind, qvObjectId id, int32_t time, int32_t starts) {
    std::lock_guard<std::mutex> hold(queue.lock);
    if (queue.count == kQueueSize) return false;
    queue.events[(queue.head + queue.count++) % kQueueSize] = {kind, id, time, starts};
    return true;
}

void SetMusicNeed(qvObjectId id, int32_t samples, int32_t count) {
    need = {id, samples, count};
}

void ResetSoundEvents() {
    std::lock_guard<std::mutex> hold(queue.lock);
    queue.head = queue.count = 0;
    need = {};
    inMusicCallback = false;
}

}  // namespace testing
}  // namespace qv::media

int PollSoundEvent(uint32_t* kind, qvObjectId* id, int32_t* time, int32_t* starts) {
    qv::media::SoundEventQueue& q = qv::media::queue;
    std::lock_guard<std::mutex> hold(q.lock);
    if (q.count == 0) return 0;
    const qv::media::SoundEvent& e = q.events[q.head];
    *kind = e.kind, *id = e.id, *time = e.time, *starts = e.starts;
    q.head = (q.head + 1) % qv::media::kQueueSize;
    --q.count;
    return 1;
}

int32_t QueryMusicStreamEvent(qvObjectId* id, int32_t* count) {
    const qv::media::MusicNeed& n = qv::media::need;
    if (n.samples <= 0) return 0;
    *id = n.id;
    *count = n.count;
    return n.samples;
}

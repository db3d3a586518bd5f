#include "platform/linux/abort_flag.h"

namespace qv {

// Every operation is sequentially consistent: a setter stores the flag before it reads the
// watchers, and Watch stores the watcher before it reads the flag, so that at least one of
// the two sees the other; Unwatch clears the slot before it waits for the setters that may
// have read it.
void AbortFlag::store(uint32_t value) noexcept {
    flag_.store(value);
    if (value != 0) RaiseWatchers();
}

uint32_t AbortFlag::exchange(uint32_t value) noexcept {
    uint32_t previous = flag_.exchange(value);
    if (value != 0) RaiseWatchers();
    return previous;
}

bool AbortFlag::Watch(std::atomic<uint8_t>* attention) noexcept {
    for (auto& slot : watchers_) {
        if (slot.load() == attention) return true;
    }
    for (auto& slot : watchers_) {
        std::atomic<uint8_t>* expected = nullptr;
        if (!slot.compare_exchange_strong(expected, attention)) continue;
        if (flag_.load() != 0) attention->fetch_or(kRaised);
        return true;
    }
    return false;
}

void AbortFlag::Unwatch(std::atomic<uint8_t>* attention) noexcept {
    for (auto& slot : watchers_) {
        std::atomic<uint8_t>* expected = attention;
        slot.compare_exchange_strong(expected, nullptr);
    }
    // A setter on another thread may have read the slot before it was cleared. A signal
    // handler on this thread cannot be half-way: it ran to its end before this code resumed.
    while (raising_.load() != 0) {
    }
}

void AbortFlag::RaiseWatchers() noexcept {
    raising_.fetch_add(1);
    for (auto& slot : watchers_) {
        if (std::atomic<uint8_t>* attention = slot.load()) attention->fetch_or(kRaised);
    }
    raising_.fetch_sub(1);
}

}  // namespace qv

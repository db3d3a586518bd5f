// The run-time's abort flag: set by End, a close request, Ctrl-C (from a signal handler) and
// other threads, and read by whatever must stop. Setting it also raises the attention byte of
// every engine that watches it, so that an interpreter tests one byte of its own before each
// instruction rather than this flag. Everything here is lock-free and safe in a signal
// handler.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace qv {

class AbortFlag {
public:
    // The bit that setting the flag raises in each watcher's attention byte.
    static constexpr uint8_t kRaised = 1;

    AbortFlag() = default;
    AbortFlag(const AbortFlag&) = delete;
    AbortFlag& operator=(const AbortFlag&) = delete;

    uint32_t load(std::memory_order order = std::memory_order_seq_cst) const noexcept {
        return flag_.load(order);
    }
    // A non-zero value raises every watcher; 0 leaves their bits for them to lower.
    void store(uint32_t value) noexcept;
    uint32_t exchange(uint32_t value) noexcept;
    AbortFlag& operator=(uint32_t value) noexcept {
        store(value);
        return *this;
    }

    // From now on setting the flag raises kRaised in attention; so does this call when the
    // flag is set already. false when every watcher slot is taken: the watcher must then
    // read the flag itself.
    bool Watch(std::atomic<uint8_t>* attention) noexcept;
    // Once it returns, no setter touches attention any more (a raise in progress on another
    // thread is waited for), so its memory may go.
    void Unwatch(std::atomic<uint8_t>* attention) noexcept;

private:
    void RaiseWatchers() noexcept;

    static constexpr int kWatchers = 8;
    std::atomic<uint32_t> flag_{0};
    std::atomic<int> raising_{0};  // setters inside RaiseWatchers
    std::array<std::atomic<std::atomic<uint8_t>*>, kWatchers> watchers_{};
};

static_assert(std::atomic<uint32_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free &&
                  std::atomic<std::atomic<uint8_t>*>::is_always_lock_free &&
                  std::atomic<uint8_t>::is_always_lock_free,
              "set from signal handlers");

}  // namespace qv

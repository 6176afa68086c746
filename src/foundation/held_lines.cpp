#include "foundation/held_lines.h"

#include <atomic>
#include <cstdint>

namespace kerbmark {
namespace held {

namespace {

static_assert(std::atomic<std::uint32_t>::is_always_lock_free, "a crash report may interrupt any of these");

char buffer[kCapacity];
// Bytes [0, published) hold whole lines; [0, takenUpTo) have been taken.
// published is stored only by the holding thread, after the line's bytes.
std::atomic<std::uint32_t> published{0};
std::atomic<std::uint32_t> takenUpTo{0};
// Takers between take() and release(): the bytes they write must stay put.
std::atomic<std::uint32_t> takers{0};

}  // namespace

bool hold(const char* text) {
    std::uint32_t at = published.load();
    const auto put = [&at](char c) {
        if (at >= kCapacity) return false;
        buffer[at++] = c;
        return true;
    };
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '\n' && !put('\r')) return false;
        if (!put(*c)) return false;
    }
    if (!put('\r') || !put('\n')) return false;
    published.store(at);
    return true;
}

Taken take() {
    takers.fetch_add(1);
    std::uint32_t from = takenUpTo.load();
    for (;;) {
        const std::uint32_t to = published.load();
        if (to > from) {
            if (takenUpTo.compare_exchange_weak(from, to)) return Taken{buffer + from, to - from};
            continue;  // `from` now holds what another taker left
        }
        // Nothing past `from`, unless the buffer started over meanwhile.
        const std::uint32_t now = takenUpTo.load();
        if (now == from) return Taken{buffer, 0};
        from = now;
    }
}

void release() { takers.fetch_sub(1); }

void rewind() {
    if (takers.load() != 0) return;
    const std::uint32_t end = published.load();
    if (end == 0 || takenUpTo.load() != end) return;
    // In this order: a taker that still sees the old mark finds nothing past it.
    published.store(0);
    takenUpTo.store(0);
}

std::size_t waiting() {
    const std::uint32_t end = published.load();
    const std::uint32_t from = takenUpTo.load();
    return end > from ? end - from : 0;
}

}  // namespace held
}  // namespace kerbmark

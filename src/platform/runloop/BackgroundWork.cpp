#include "platform/runloop/BackgroundWork.h"

#include <atomic>

namespace platform {
namespace {
std::atomic<std::size_t> g_pending{0};
} // namespace

void BackgroundWork::begin() { g_pending.fetch_add(1); }

void BackgroundWork::end() {
    std::size_t current = g_pending.load();
    while (current > 0 && !g_pending.compare_exchange_weak(current, current - 1)) {
    }
}

std::size_t BackgroundWork::pendingCount() { return g_pending.load(); }

} // namespace platform

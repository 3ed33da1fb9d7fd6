#include "TemporaryFiles.h"

#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>

namespace varsile::cli {

namespace {

// Enough for every worker's audio, meters and preset at once.
constexpr int kSlots = 256;
constexpr std::size_t kPathBytes = 4096;

enum SlotState : int { kFree, kFilling, kHeld };

struct Slot {
  std::atomic<int> state{kFree};
  char path[kPathBytes];
};
std::array<Slot, kSlots> gSlots;
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void RemoveAndExit(int signal) {
  for (Slot& slot : gSlots) {
    if (slot.state.load(std::memory_order_acquire) == kHeld) unlink(slot.path);
  }
  _exit(128 + signal);
}

}  // namespace

void RemoveTemporaryFilesOnSignals() {
  struct sigaction action {};
  action.sa_handler = RemoveAndExit;
  sigemptyset(&action.sa_mask);
  // While one handler runs the others wait, so each file is unlinked once.
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, signal);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

int RegisterTemporaryFile(const char* path) noexcept {
  const std::size_t length = std::strlen(path);
  if (length >= kPathBytes) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (gSlots[i].state.compare_exchange_strong(expected, kFilling, std::memory_order_acquire)) {
      std::memcpy(gSlots[i].path, path, length + 1);
      gSlots[i].state.store(kHeld, std::memory_order_release);
      return i;
    }
  }
  return -1;
}

void ForgetTemporaryFile(int slot) noexcept {
  if (slot >= 0 && slot < kSlots) gSlots[slot].state.store(kFree, std::memory_order_release);
}

}  // namespace varsile::cli

// The simulator's process-wide state: the registry of attached modules, the handles given out by
// FT_OpenEx, the trace of calls that belong to no attached module, and the trace switch.
#ifndef KORVELAN380_SIM_SIM_STATE_H
#define KORVELAN380_SIM_SIM_STATE_H

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "korvelan380_sim.hpp"
#include "module_model.h"

namespace korvelan380::sim::detail {

enum class HandleState : uint8_t { kFree, kOpen, kClosed };

// What FT_OpenEx hands out. `module` and `serial` are set once, before `state` leaves kFree, and
// never change; a handle only ever goes kOpen -> kClosed. Handles are never freed, so a closed or
// stale one is still memory the simulator can look at.
struct Handle {
  std::atomic<HandleState> state{HandleState::kFree};
  std::weak_ptr<Module> module;
  std::string serial;
};

// Handles live in chunks that are never freed, each twice the size of the one before, so telling
// whether an arbitrary pointer is one of ours takes a few comparisons and no lock.
class HandlePool {
 public:
  // Returns a fresh handle in state kFree. Callers serialize (the registry mutex).
  Handle* Allocate();
  // The handle at `p`, or nullptr when `p` is not a handle this pool ever gave out.
  Handle* Resolve(const void* p) const;

 private:
  static constexpr size_t kFirstChunkSize = 64;
  static constexpr size_t kMaxChunks = 40;
  static size_t ChunkSize(size_t index) { return kFirstChunkSize << index; }

  std::array<std::atomic<Handle*>, kMaxChunks> chunks_{};
  std::atomic<size_t> chunkCount_{0};
  size_t usedInLastChunk_ = 0;
};

struct State {
  // Guards `modules` and handle allocation; taken by attach, detach, open, Reset and the trace
  // snapshots, never by calls on an open handle.
  std::mutex registryMu;
  std::map<std::string, std::shared_ptr<Module>> modules;
  HandlePool handles;

  // Calls on no attached module: unknown or closed handles, detached modules, failed opens.
  // Also the trace a module had when it was detached.
  std::mutex orphanMu;
  std::vector<capture::DriverCall> orphanTrace;

  std::atomic<bool> tracing{true};
  std::atomic<uint64_t> sequence{0};
};

// Never destroyed: handles must stay valid until the process ends.
State& Global();

// The module of that serial, or null.
std::shared_ptr<Module> FindModule(const std::string& serial);

}  // namespace korvelan380::sim::detail

#endif  // KORVELAN380_SIM_SIM_STATE_H

#include "sim_state.h"

#include <chrono>

namespace korvelan380::sim::detail {

Handle* HandlePool::Allocate() {
  size_t count = chunkCount_.load(std::memory_order_relaxed);
  if (count == 0 || usedInLastChunk_ == ChunkSize(count - 1)) {
    if (count == kMaxChunks) return nullptr;
    chunks_[count].store(new Handle[ChunkSize(count)], std::memory_order_relaxed);
    chunkCount_.store(count + 1, std::memory_order_release);
    usedInLastChunk_ = 0;
    ++count;
  }
  return chunks_[count - 1].load(std::memory_order_relaxed) + usedInLastChunk_++;
}

Handle* HandlePool::Resolve(const void* p) const {
  const auto address = reinterpret_cast<uintptr_t>(p);
  const size_t count = chunkCount_.load(std::memory_order_acquire);
  for (size_t i = count; i-- > 0;) {
    Handle* base = chunks_[i].load(std::memory_order_relaxed);
    const auto begin = reinterpret_cast<uintptr_t>(base);
    const uintptr_t end = begin + ChunkSize(i) * sizeof(Handle);
    if (address < begin || address >= end) continue;
    if ((address - begin) % sizeof(Handle) != 0) return nullptr;
    Handle* handle = base + (address - begin) / sizeof(Handle);
    if (handle->state.load(std::memory_order_acquire) == HandleState::kFree) return nullptr;
    return handle;
  }
  return nullptr;
}

State& Global() {
  static State* const state = new State;
  return *state;
}

std::shared_ptr<Module> FindModule(const std::string& serial) {
  State& g = Global();
  std::lock_guard lock(g.registryMu);
  auto it = g.modules.find(serial);
  return it == g.modules.end() ? nullptr : it->second;
}

}  // namespace korvelan380::sim::detail

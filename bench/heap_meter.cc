#include "heap_meter.h"

#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <new>

namespace vdksvc::heap {
namespace {

// The benchmarks run on one thread; plain counters keep the meter cheap.
std::size_t allocationCount = 0;
std::size_t live = 0;
std::size_t peak = 0;

}  // namespace

std::size_t allocations() { return allocationCount; }
std::size_t liveBytes() { return live; }
std::size_t peakBytes() { return peak; }
void resetPeak() { peak = live; }

}  // namespace vdksvc::heap

void* operator new(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  using namespace vdksvc::heap;
  ++allocationCount;
  live += malloc_usable_size(block);
  peak = std::max(peak, live);
  return block;
}

void operator delete(void* block) noexcept {
  if (block == nullptr) return;
  vdksvc::heap::live -= malloc_usable_size(block);
  std::free(block);
}

void operator delete(void* block, std::size_t /*size*/) noexcept { operator delete(block); }

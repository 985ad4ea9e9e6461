#pragma once
// Counts what the benchmark program takes from the heap: every operator new of
// the program goes through the meter, so a benchmark can report allocations per
// operation and the peak of live heap bytes.

#include <cstddef>

namespace vdksvc::heap {

/// Allocations made since the program started.
std::size_t allocations();
/// Heap bytes allocated and not yet freed (usable sizes, as malloc hands them out).
std::size_t liveBytes();
/// The highest liveBytes() since the last resetPeak().
std::size_t peakBytes();
void resetPeak();

}  // namespace vdksvc::heap

#pragma once
// Records the largest single heap allocation made while a probe is alive, so tests can
// show that a length prefix alone never makes the reader allocate what the data does not
// hold. The test binary's operator new and delete go through malloc and free (which the
// sanitizers still watch); counting happens only on the thread of an active probe.
#include <cstddef>

namespace vellumtest {

class AllocationProbe {
  public:
    AllocationProbe();
    ~AllocationProbe();
    AllocationProbe(const AllocationProbe&) = delete;
    AllocationProbe& operator=(const AllocationProbe&) = delete;

    std::size_t largestAllocation() const;
};

} // namespace vellumtest

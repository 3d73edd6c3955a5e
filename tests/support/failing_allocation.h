// Simulated memory exhaustion for tests of the out-of-memory paths.
//
// The test binary replaces the global operator new with one that normally
// just allocates. While a FailingAllocations object lives, allocations on the
// creating thread succeed `allowed` more times and then every further one
// throws std::bad_alloc, as when memory has run out. Other threads and all
// code outside such a scope are not affected.
#pragma once

namespace vx::testing {

class FailingAllocations {
public:
    explicit FailingAllocations(long allowed);
    ~FailingAllocations();
    FailingAllocations(const FailingAllocations&) = delete;
    FailingAllocations& operator=(const FailingAllocations&) = delete;

    // Whether an allocation was refused in this scope.
    bool triggered() const;
};

}  // namespace vx::testing

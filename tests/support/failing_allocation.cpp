#include "support/failing_allocation.h"

#include <cstdlib>
#include <new>

namespace {

// -1: allocations are not counted. Otherwise the number of allocations still
// allowed on this thread; at 0 every allocation fails.
thread_local long t_allowed = -1;
thread_local bool t_triggered = false;

bool refuse_allocation() {
    if (t_allowed < 0) return false;
    if (t_allowed == 0) {
        t_triggered = true;
        return true;
    }
    --t_allowed;
    return false;
}

void* allocate_nothrow(std::size_t size) noexcept {
    if (refuse_allocation()) return nullptr;
    return std::malloc(size != 0 ? size : 1);
}

void* allocate(std::size_t size) {
    void* p = allocate_nothrow(size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

}  // namespace

namespace vx::testing {

FailingAllocations::FailingAllocations(long allowed) {
    t_triggered = false;
    t_allowed = allowed < 0 ? 0 : allowed;
}

FailingAllocations::~FailingAllocations() { t_allowed = -1; }

bool FailingAllocations::triggered() const { return t_triggered; }

}  // namespace vx::testing

// Every plain form is replaced together, so that memory from this operator
// new always meets its own operator delete (sanitizers check the pairing).
void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate_nothrow(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate_nothrow(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

#include "AllocationProbe.h"

#include <cstdlib>
#include <new>

namespace {

thread_local int activeProbes = 0;
thread_local std::size_t largest = 0;

void* allocate(std::size_t size) {
    if (activeProbes > 0 && size > largest)
        largest = size;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void* allocateNoThrow(std::size_t size) noexcept {
    if (activeProbes > 0 && size > largest)
        largest = size;
    return std::malloc(size ? size : 1);
}

} // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocateNoThrow(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocateNoThrow(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace vellumtest {

AllocationProbe::AllocationProbe() {
    if (activeProbes++ == 0)
        largest = 0;
}

AllocationProbe::~AllocationProbe() {
    --activeProbes;
}

std::size_t AllocationProbe::largestAllocation() const {
    return largest;
}

} // namespace vellumtest

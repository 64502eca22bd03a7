#pragma once

// Test support: the test program's global allocation functions, replaced so
// that a test can count allocations and make them fail as if memory had run
// out. A program that links failing_allocation.cpp gets the replacement; a
// failing allocation calls the new handler the way the C++ library does
// (the error machinery's raises `EOutOfMemory`), or raises std::bad_alloc
// without one. Arrays and the aligned and nothrow forms go through the same
// plain form.

#include <cstddef>

/// Allocations counted since the last `CountAllocationsFromNow`.
std::size_t AllocationsCounted();

/// Starts counting at 0; makes no allocation fail.
void CountAllocationsFromNow();

/// Counts from 0 again and makes the `n`-th allocation from now fail (1: the
/// next), and when `stays_failed` every one after it as well. REQUIRES: n >= 1.
void FailAllocation(std::size_t n, bool stays_failed);

/// Allocations that were made to fail since the last count started.
std::size_t AllocationsFailed();

/// Another judge of the allocations: while set, it alone counts them and
/// decides which fail (the fault-injection sweeps count every kind of call
/// in one place). Null puts the counting above back in charge.
using AllocationGate = bool (*)();
void SetAllocationGate(AllocationGate gate);

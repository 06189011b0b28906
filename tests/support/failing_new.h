// Out-of-memory on demand: a test program that links failing_new.cpp gets
// replacements of the non-throwing operator new (single and array form),
// which is how the code under test allocates its records and buffers.
#pragma once

namespace testing_support {

// The non-throwing allocation after the next `successes` ones fails (once).
void FailNothrowAllocationAfter(int successes);
// No allocation fails.
void StopFailingAllocations();

}  // namespace testing_support

// Work split over the machine's cores, with results that do not depend on
// how many there are: each index is handled alone, by whichever thread.
#pragma once

#include <cstddef>
#include <functional>

// Calls work(begin, end) over consecutive ranges that cover 0 .. count - 1,
// on up to as many threads as the machine has cores (the calling thread
// included), and returns when all are done. `work` must write nothing that
// another range writes.
void ParallelRanges(size_t count, const std::function<void(size_t begin, size_t end)>& work);

// Work split over the machine's cores, with results that do not depend on
// how many there are: each index is handled alone, by whichever thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <thread>

// Calls work(begin, end) over consecutive ranges that cover 0 .. count - 1,
// on up to as many threads as the machine has cores (the calling thread
// included), and returns when all are done. `work` must write nothing that
// another range writes.
void ParallelRanges(size_t count, const std::function<void(size_t begin, size_t end)>& work);

// Hands out consecutive chunks of the indices 0 .. count - 1, each once, to
// whichever thread asks next: work that varies along the indices is shared
// out evenly.
class ChunkQueue
{
public:
  ChunkQueue(size_t count, size_t chunk);
  // The next chunk [begin, end); false when none is left.
  bool Next(size_t* begin, size_t* end);

private:
  std::atomic<size_t> Taken;
  const size_t Count;
  const size_t Chunk;
};

// The threads that work split over the cores runs on (the calling thread
// included): the machine's cores, 1 to 8.
size_t WorkThreads();

// Runs `work` on a thread of its own, beside the caller, from construction
// until Join (or destruction). When no thread can be started, `work` runs on
// the calling thread in Join, as if the caller had done it last; an empty
// function does nothing.
class BesideThread
{
public:
  explicit BesideThread(const std::function<void()>& work);
  ~BesideThread();
  BesideThread(const BesideThread&) = delete;
  BesideThread& operator=(const BesideThread&) = delete;

  // Waits until `work` has returned.
  void Join();

private:
  std::thread Thread;
  std::function<void()> Deferred;
};

// Work split over the cores that the process may run on, for the tools that
// fit and report (never the seven surface tools, which run on one thread),
// with results that do not depend on how many cores there are.
#pragma once

#include <cstddef>
#include <functional>
#include <thread>

// How many threads (or child processes) work may run on at once, the calling
// thread included: the cores of the process's CPU affinity (which taskset and
// cluster schedulers such as Slurm set), at most SURFTOOLS_THREADS when that
// variable holds a positive whole number; at least 1.
size_t WorkThreads();

// Lets VTK's own parallel loops run on WorkThreads() threads (on the calling
// thread alone where that is 1). Call first thing in main.
void UseWorkThreads();

// Calls work(begin, end) over consecutive ranges that cover 0 .. count - 1,
// on up to WorkThreads() threads (the calling thread included), and returns
// when all are done. `work` must write nothing that another range writes.
void ParallelRanges(size_t count, const std::function<void(size_t begin, size_t end)>& work);

// Runs `work` on a thread of its own, beside the caller, from construction
// until Join (or destruction). Where WorkThreads() is 1, or no thread can be
// started, `work` runs on the calling thread in Join, as if the caller had
// done it last; an empty function does nothing.
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

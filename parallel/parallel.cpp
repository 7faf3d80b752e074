#include "parallel/parallel.h"

#include <vtkSMPTools.h>

#include <sched.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

size_t WorkThreads()
{
  size_t cores = 1;
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (sched_getaffinity(0, sizeof allowed, &allowed) == 0)
  {
    cores = static_cast<size_t>(std::max(1, CPU_COUNT(&allowed)));
  }
  if (const char* limit = std::getenv("SURFTOOLS_THREADS"))
  {
    char* end = nullptr;
    const long value = std::strtol(limit, &end, 10);
    if (end != limit && *end == '\0' && value > 0)
    {
      cores = std::min(cores, static_cast<size_t>(value));
    }
  }
  return cores;
}

void UseWorkThreads()
{
  const size_t threads = WorkThreads();
  if (threads < 2)
  {
    vtkSMPTools::SetBackend("Sequential");
  }
  else
  {
    vtkSMPTools::Initialize(static_cast<int>(threads));
  }
}

void ParallelRanges(size_t count, const std::function<void(size_t begin, size_t end)>& work)
{
  const size_t cores = WorkThreads();
  const size_t threads = std::min(cores, std::max<size_t>(1, count / 256));
  if (threads <= 1)
  {
    work(0, count);
    return;
  }
  // A range whose thread cannot be started (a process limit) is done on the
  // calling thread instead.
  std::vector<std::unique_ptr<BesideThread>> helpers;
  const size_t step = (count + threads - 1) / threads;
  for (size_t t = 1; t < threads; ++t)
  {
    const size_t begin = std::min(count, t * step);
    const size_t end = std::min(count, begin + step);
    helpers.emplace_back(new BesideThread([&work, begin, end] { work(begin, end); }));
  }
  work(0, std::min(count, step));
  for (std::unique_ptr<BesideThread>& helper : helpers)
  {
    helper->Join();
  }
}

BesideThread::BesideThread(const std::function<void()>& work)
{
  if (!work)
  {
    return;
  }
  if (WorkThreads() < 2)
  {
    this->Deferred = work;
    return;
  }
  try
  {
    this->Thread = std::thread(work);
  }
  catch (const std::system_error&)
  {
    this->Deferred = work;
  }
}

BesideThread::~BesideThread()
{
  this->Join();
}

void BesideThread::Join()
{
  if (this->Thread.joinable())
  {
    this->Thread.join();
  }
  if (this->Deferred)
  {
    const std::function<void()> work = std::move(this->Deferred);
    this->Deferred = nullptr;
    work();
  }
}

// Loaded before a program (LD_PRELOAD), watches the threads it starts:
//   THREADPROBE_FORBID=1      the first thread the program starts ends it
//                             (a line on the error output, then abort)
//   THREADPROBE_REPORT=FILE   at exit, appends to FILE a line: the program's
//                             name and the most threads it ran on at once
//                             (its main thread included)
// The tests check with it that the seven surface tools start no thread; the
// benchmark reports every tool's thread count.
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace
{
std::atomic<int> running{ 1 };
std::atomic<int> most{ 1 };

using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

struct Start
{
  void* (*start)(void*);
  void* argument;
};

// Runs a started thread's own function, counted while it runs.
void* Counted(void* data)
{
  const Start start = *static_cast<Start*>(data);
  delete static_cast<Start*>(data);
  const int now = ++running;
  for (int seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);)
  {
  }
  void* result = start.start(start.argument);
  --running;
  return result;
}
}

extern "C" int pthread_create(
  pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*), void* argument)
{
  if (std::getenv("THREADPROBE_FORBID"))
  {
    static const char message[] = "threadprobe: the program started a thread\n";
    static_cast<void>(write(2, message, sizeof message - 1));
    std::abort();
  }
  static const Create create = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
  if (!create)
  {
    return EAGAIN;
  }
  Start* data = new Start{ start, argument };
  const int result = create(thread, attributes, Counted, data);
  if (result != 0)
  {
    delete data;
  }
  return result;
}

namespace
{
__attribute__((destructor)) void ReportThreads()
{
  if (const char* path = std::getenv("THREADPROBE_REPORT"))
  {
    if (std::FILE* file = std::fopen(path, "a"))
    {
      std::fprintf(file, "%s %d\n", program_invocation_short_name, most.load());
      std::fclose(file);
    }
  }
}
}

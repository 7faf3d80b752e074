#include "surftools/process.h"

#include <vtkLogger.h>
#include <vtkOutputWindow.h>
#include <vtkSMPTools.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

// The end of the program's data: the heap that the program break bounds
// lies above it.
extern char end;

void UseLargeHeap()
{
  // Allocations up to 32 MB (the most glibc allows) come from one heap, that
  // of the program break, for every thread; it grows 256 MB at a time
  // (address space only, until touched) and is never trimmed.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  mallopt(M_TOP_PAD, 256 << 20);
  mallopt(M_ARENA_MAX, 1);
  // Grow it now, then ask for huge pages over all of it.
  void* block = std::malloc(1 << 20);
  if (!block)
  {
    return;
  }
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t start = reinterpret_cast<uintptr_t>(block) & ~(page - 1);
  std::free(block);
  const uintptr_t top = reinterpret_cast<uintptr_t>(sbrk(0));
  // Only within that heap: an allocator of another kind (a sanitizer's) puts
  // its blocks elsewhere.
  if (start >= reinterpret_cast<uintptr_t>(&end) && top > start)
  {
    madvise(reinterpret_cast<void*>(start), top - start, MADV_HUGEPAGE);
  }
}

void UseCompactHeap()
{
  // Setting the sizes fixes them: glibc no longer adjusts them as blocks are
  // freed.
  mallopt(M_MMAP_THRESHOLD, 128 << 10);
  mallopt(M_TRIM_THRESHOLD, 256 << 10);
}

void QuietVtk()
{
  const char* shown = std::getenv("SURFTOOLS_VTK_ERRORS");
  if (shown && std::string(shown) == "1")
  {
    return;
  }
  vtkOutputWindow::GetInstance()->SetDisplayModeToNever();
  vtkLogger::SetStderrVerbosity(vtkLogger::VERBOSITY_OFF);
}

void UseOneThread()
{
  vtkSMPTools::SetBackend("Sequential");
}

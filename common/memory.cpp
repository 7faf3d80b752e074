#include "memory.h"

#include <cstdint>
#include <cstdlib>

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

void UseLargeHeap()
{
  // Allocations up to 32 MB (the most glibc allows) come from the heap, which
  // grows 256 MB at a time (address space only, until touched) and is never
  // trimmed.
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
  const uintptr_t end = reinterpret_cast<uintptr_t>(sbrk(0));
  if (end > start)
  {
    madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
  }
}

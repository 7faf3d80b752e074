// Fuzzes the list-file reader of meshmean: the names it takes from any bytes.
#include "surftools/listfile.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::istringstream list(text);
  std::string entry;
  size_t count = 0;
  size_t from = 0;
  while (NextListEntry(list, entry))
  {
    // A name is a nonempty piece of one line, found in the text in order.
    const size_t at = text.find(entry, from);
    if (entry.empty() || entry.find('\n') != std::string::npos || at == std::string::npos)
    {
      std::abort();
    }
    from = at + entry.size();
    ++count;
  }
  if (list.bad() || count > static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1)
  {
    std::abort();
  }
  return 0;
}

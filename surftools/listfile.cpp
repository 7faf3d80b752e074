#include "surftools/listfile.h"

bool NextListEntry(std::istream& list, std::string& entry)
{
  while (std::getline(list, entry))
  {
    if (!entry.empty() && entry.back() == '\r')
    {
      entry.pop_back();
    }
    if (!entry.empty())
    {
      return true;
    }
  }
  return false;
}

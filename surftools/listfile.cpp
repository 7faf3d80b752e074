#include "surftools/listfile.h"

#include <charconv>

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

std::vector<std::string> TabFields(const std::string& row)
{
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t tab = row.find('\t'); tab != std::string::npos; tab = row.find('\t', start))
  {
    fields.push_back(row.substr(start, tab - start));
    start = tab + 1;
  }
  fields.push_back(row.substr(start));
  return fields;
}

bool FieldNumber(const std::string& text, double& value)
{
  const char* end = text.data() + text.size();
  const auto parsed = std::from_chars(text.data(), end, value);
  return !text.empty() && parsed.ec == std::errc() && parsed.ptr == end;
}

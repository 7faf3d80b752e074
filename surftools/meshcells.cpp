#include "surftools/meshcells.h"

#include "surftools/legacycheck.h"

#include <vtkCellArray.h>

#include <cstdint>

namespace
{
bool IsBlank(char c)
{
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// The integers of a section's text, as the check read them: a sign, then
// digits, between blanks.
bool DecodeText(const LegacyValues& values, std::vector<long long>& out)
{
  const char* at = values.first;
  for (long long& value : out)
  {
    while (at < values.last && IsBlank(*at))
    {
      ++at;
    }
    const bool negative = at < values.last && *at == '-';
    at += at < values.last && (*at == '-' || *at == '+') ? 1 : 0;
    const char* digits = at;
    uint64_t magnitude = 0;
    for (; at < values.last && *at >= '0' && *at <= '9'; ++at)
    {
      magnitude = magnitude * 10 + static_cast<uint64_t>(*at - '0');
    }
    if (at == digits)
    {
      return false;
    }
    value = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
  }
  return true;
}

// The big-endian two's complement integers of a binary section.
bool DecodeBinary(const LegacyValues& values, std::vector<long long>& out)
{
  const int size = values.size;
  if (size < 1 || size > 8 || values.last - values.first < static_cast<long long>(out.size()) * size)
  {
    return false;
  }
  const unsigned char* at = reinterpret_cast<const unsigned char*>(values.first);
  for (long long& value : out)
  {
    uint64_t bits = 0;
    for (int b = 0; b < size; ++b)
    {
      bits = bits << 8 | *at++;
    }
    if (size < 8 && (bits >> (8 * size - 1)) != 0)
    {
      bits |= ~uint64_t{ 0 } << (8 * size); // the sign extended
    }
    value = static_cast<long long>(bits);
  }
  return true;
}

bool Decode(const LegacyValues& values, std::vector<long long>& out)
{
  out.resize(static_cast<size_t>(values.count));
  return values.size == 0 ? DecodeText(values, out) : DecodeBinary(values, out);
}

// Cells of the old layout (each cell's point count, then its ids) as offsets
// and connectivity.
bool FromCounts(const std::vector<long long>& values, std::vector<long long>& offsets, std::vector<long long>& ids)
{
  offsets.assign(1, 0);
  ids.clear();
  ids.reserve(values.size());
  for (size_t i = 0; i < values.size();)
  {
    const long long count = values[i];
    if (count < 0 || count > static_cast<long long>(values.size() - 1 - i))
    {
      return false;
    }
    ids.insert(ids.end(), values.begin() + static_cast<long>(i) + 1, values.begin() + static_cast<long>(i) + 1 + count);
    offsets.push_back(static_cast<long long>(ids.size()));
    i += 1 + static_cast<size_t>(count);
  }
  return true;
}

// Offsets that start at 0, never decrease and end at the connectivity's size.
bool OffsetsFit(std::vector<long long>& offsets, const std::vector<long long>& ids)
{
  if (offsets.empty())
  {
    offsets.push_back(0);
  }
  for (size_t c = 1; c < offsets.size(); ++c)
  {
    if (offsets[c] < offsets[c - 1])
    {
      return false;
    }
  }
  return offsets.front() == 0 && offsets.back() == static_cast<long long>(ids.size());
}

// Takes the points' count and the cells from the check as it walks the file.
class CellsReading : public LegacyReading
{
public:
  explicit CellsReading(MeshCells& cells)
    : cells_(cells)
  {
  }

  void Points(long long count) override { cells_.points = count; }

  void Cells(const std::string& kind, const LegacyValues* offsets, const LegacyValues& values) override
  {
    std::vector<long long> o;
    std::vector<long long> ids;
    std::vector<long long> counts;
    const bool read = offsets ? Decode(*offsets, o) && Decode(values, ids) && OffsetsFit(o, ids)
                              : Decode(values, counts) && FromCounts(counts, o, ids);
    unreadable = unreadable || !read;
    if (kind != "polygons")
    {
      cells_.otherCells += static_cast<long long>(o.size()) - 1;
      return;
    }
    polygons = true;
    cells_.offsets.swap(o);
    cells_.connectivity.swap(ids);
  }

  bool polygons = false;
  bool unreadable = false;

private:
  MeshCells& cells_;
};

std::string Joined(const MeshCells& cells, size_t c)
{
  std::string text;
  for (long long k = cells.offsets[c]; k < cells.offsets[c + 1]; ++k)
  {
    text += (text.empty() ? "" : " ") + std::to_string(cells.connectivity[static_cast<size_t>(k)]);
  }
  return text;
}

std::string Counts(const char* what, long long count, long long templateCount)
{
  return "it has " + std::to_string(count) + ' ' + what + ", the template " + std::to_string(templateCount);
}
}

LegacyCellsRead ReadLegacyCells(const char* path, MeshCells& cells, std::string& problem)
{
  cells = MeshCells();
  CellsReading reading(cells);
  if (const char* found = LegacySectionProblem(path, reading))
  {
    problem = found;
    return LegacyCellsRead::Refused;
  }
  if (reading.unreadable)
  {
    problem = "a cell section's values do not describe cells";
    return LegacyCellsRead::Refused;
  }
  return reading.polygons ? LegacyCellsRead::Read : LegacyCellsRead::Unknown;
}

MeshCells SurfaceCells(vtkPolyData* surface)
{
  MeshCells cells;
  cells.points = surface->GetNumberOfPoints();
  cells.otherCells = surface->GetNumberOfVerts() + surface->GetNumberOfLines() + surface->GetNumberOfStrips();
  vtkCellArray* polygons = surface->GetPolys();
  const vtkIdType count = polygons ? polygons->GetNumberOfCells() : 0;
  for (vtkIdType c = 0; c < count; ++c)
  {
    vtkIdType size;
    const vtkIdType* ids;
    polygons->GetCellAtId(c, size, ids);
    cells.connectivity.insert(cells.connectivity.end(), ids, ids + size);
    cells.offsets.push_back(static_cast<long long>(cells.connectivity.size()));
  }
  return cells;
}

std::string MeshDifference(const MeshCells& surface, const MeshCells& templ)
{
  if (surface.points != templ.points)
  {
    return Counts("points", surface.points, templ.points);
  }
  if (surface.otherCells != templ.otherCells)
  {
    return Counts("vertices, lines or strips", surface.otherCells, templ.otherCells);
  }
  const size_t count = surface.offsets.size() - 1;
  if (count != templ.offsets.size() - 1)
  {
    return Counts("cells", static_cast<long long>(count), static_cast<long long>(templ.offsets.size() - 1));
  }
  if (surface.offsets == templ.offsets && surface.connectivity == templ.connectivity)
  {
    return "";
  }
  for (size_t c = 0; c < count; ++c)
  {
    const std::string joined = Joined(surface, c);
    const std::string templateJoined = Joined(templ, c);
    if (joined != templateJoined)
    {
      return "its cell " + std::to_string(c) + " joins the points " + joined + ", the template's " + templateJoined;
    }
  }
  return "";
}

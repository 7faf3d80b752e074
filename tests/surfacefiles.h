// Surfaces saved as VTK's own writers save them, for the tests of the check
// that a scan lies on the template's mesh: legacy files of version 4.2 (each
// cell's point count and ids) and 5.1 (offsets and connectivity), ASCII or
// binary, and VTK XML (.vtp, appended and compressed as the writer does by
// default).
#pragma once

#include <vtkPolyData.h>
#include <vtkPolyDataReader.h>
#include <vtkPolyDataWriter.h>
#include <vtkSmartPointer.h>
#include <vtkXMLPolyDataWriter.h>

#include <string>

namespace surfacefiles
{
enum class Layout
{
  Ascii42,
  Binary42,
  Ascii51,
  Binary51,
  Xml,
};

// Writes `surface` to `path` in `layout`; false where the writer failed.
inline bool Save(vtkPolyData* surface, const std::string& path, Layout layout)
{
  if (layout == Layout::Xml)
  {
    auto writer = vtkSmartPointer<vtkXMLPolyDataWriter>::New();
    writer->SetInputData(surface);
    writer->SetFileName(path.c_str());
    return writer->Write() == 1;
  }
  auto writer = vtkSmartPointer<vtkPolyDataWriter>::New();
  writer->SetInputData(surface);
  writer->SetFileName(path.c_str());
  const bool old = layout == Layout::Ascii42 || layout == Layout::Binary42;
  writer->SetFileVersion(
    old ? vtkPolyDataWriter::VTK_LEGACY_READER_VERSION_4_2 : vtkPolyDataWriter::VTK_LEGACY_READER_VERSION_5_1);
  if (layout == Layout::Binary42 || layout == Layout::Binary51)
  {
    writer->SetFileTypeToBinary();
  }
  return writer->Write() == 1;
}

// The legacy file `from` saved again as `to` in `layout`.
inline bool Resave(const std::string& from, const std::string& to, Layout layout)
{
  auto reader = vtkSmartPointer<vtkPolyDataReader>::New();
  reader->SetFileName(from.c_str());
  reader->Update();
  return reader->GetOutput()->GetNumberOfCells() > 0 && Save(reader->GetOutput(), to, layout);
}
}

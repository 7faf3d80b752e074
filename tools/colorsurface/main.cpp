// colorsurface: a surface with the values of color files attached as cell
// data, for viewers that open VTK files: VTK XML (.vtp) or legacy VTK (.vtk).

#include "parallel/parallel.h"
#include "surftools/colorfile.h"
#include "surftools/outputfile.h"
#include "surftools/process.h"
#include "surftools/surface.h"

#include <vtkCellData.h>
#include <vtkFieldData.h>
#include <vtkFloatArray.h>
#include <vtkPolyDataWriter.h>
#include <vtkStringArray.h>
#include <vtkXMLPolyDataWriter.h>

#include <cctype>
#include <cmath>
#include <iostream>
#include <string>
#include <vector>

namespace
{
// The file's ending in lower case: ".vtk", ".vtp" or anything else.
std::string Ending(const char* path)
{
  std::string name(path);
  const size_t dot = name.find_last_of("./");
  if (dot == std::string::npos || name[dot] != '.')
  {
    return "";
  }
  std::string ending = name.substr(dot);
  for (char& c : ending)
  {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return ending;
}

vtkSmartPointer<vtkStringArray> TextArray(const std::string& name, const std::vector<std::string>& texts)
{
  auto array = vtkSmartPointer<vtkStringArray>::New();
  array->SetName(name.c_str());
  for (const std::string& text : texts)
  {
    array->InsertNextValue(text);
  }
  return array;
}

// VTK's XML writer puts array names into attributes without escaping them:
// these characters would leave a file that no XML reader opens.
bool FitsXmlAttribute(const std::string& name)
{
  for (const char c : name)
  {
    if (c == '"' || c == '<' || c == '&' || (static_cast<unsigned char>(c) < 0x20))
    {
      return false;
    }
  }
  return true;
}

bool AllFinite(vtkFloatArray* array)
{
  const float* values = array->GetPointer(0);
  const vtkIdType count = array->GetNumberOfValues();
  for (vtkIdType i = 0; i < count; ++i)
  {
    if (!std::isfinite(values[i]))
    {
      return false;
    }
  }
  return true;
}

// Attaches the values of the color files `colorPaths` to the cells of
// `output` (the surface read from surfacePath), one cell array each, named
// after its file (the first one the active scalars), and their range and
// keyword as text arrays of the field data; `xml` when the output is a .vtp
// file. False after printing the line that refuses a file: one that cannot
// be read, a name that another file gives too or that XML cannot hold, or
// value lines that do not fit the cells. `finite` tells whether every value
// is a finite number.
bool AttachColorFiles(
  vtkPolyData* output, const char* surfacePath, const std::vector<const char*>& colorPaths, bool xml, bool& finite)
{
  const vtkIdType cells = output->GetNumberOfCells();
  std::vector<std::string> names;
  finite = true;
  ColorFileContents contents;
  for (size_t a = 0; a < colorPaths.size(); ++a)
  {
    const char* colorPath = colorPaths[a];
    const std::string problem = ReadColorFile(colorPath, contents);
    if (!problem.empty())
    {
      std::cout << "Color file " << colorPath << ' ' << problem << '\n';
      return false;
    }
    const std::string name = ColorValueName(colorPath);
    for (size_t k = 0; k < names.size(); ++k)
    {
      if (names[k] == name)
      {
        std::cout << "Color files " << colorPaths[k] << " and " << colorPath << " would give two arrays named " << name
                  << '\n';
        return false;
      }
    }
    if (xml && !FitsXmlAttribute(name))
    {
      std::cout << "Color file " << colorPath << " gives the array name " << name
                << ", which a .vtp file cannot hold (it has a \", < or & or a control character)\n";
      return false;
    }
    vtkSmartPointer<vtkFloatArray> values = ColorCellArray(contents.values, cells, name.c_str());
    if (!values)
    {
      std::cout << CellCountRefusal(colorPath, contents.values.size(), cells, surfacePath);
      return false;
    }
    finite = finite && AllFinite(values);
    output->GetCellData()->AddArray(values);
    if (a == 0)
    {
      output->GetCellData()->SetActiveScalars(name.c_str());
    }
    output->GetFieldData()->AddArray(TextArray(name + "_range", { contents.rangeFirst, contents.rangeSecond }));
    output->GetFieldData()->AddArray(TextArray(name + "_colormap", { contents.colorMap }));
    names.push_back(name);
  }
  return true;
}

// The surface as the text of a VTK XML file (`xml`) or of a legacy VTK file,
// both written into memory. False when the writer failed or wrote nothing.
bool SurfaceText(vtkPolyData* output, bool xml, bool finite, std::string& text)
{
  bool written;
  if (xml)
  {
    auto writer = vtkSmartPointer<vtkXMLPolyDataWriter>::New();
    writer->SetInputData(output);
    writer->WriteToOutputStringOn();
    written = writer->Write() != 0 && writer->GetErrorCode() == 0;
    text = writer->GetOutputString();
  }
  else
  {
    // Legacy text as every surface of these tools, but VTK's legacy reader
    // reads no "nan" or "inf" from text: with such a value the file is binary.
    auto writer = vtkSmartPointer<vtkPolyDataWriter>::New();
    writer->SetInputData(output);
    writer->SetFileVersion(vtkPolyDataWriter::VTK_LEGACY_READER_VERSION_4_2);
    if (finite)
    {
      writer->SetFileTypeToASCII();
    }
    else
    {
      writer->SetFileTypeToBinary();
    }
    writer->WriteToOutputStringOn();
    written = writer->Write() != 0 && writer->GetErrorCode() == 0;
    if (written)
    {
      text.assign(writer->GetOutputString(), static_cast<size_t>(writer->GetOutputStringLength()));
    }
  }
  return written && !text.empty();
}
}

int main(int argc, char* argv[])
{
  QuietVtk();
  UseWorkThreads();
  if (argc < 4)
  {
    std::cout << "Usage: surface.vtk output.vtp|output.vtk values.clr [more.clr ...]\n"
                 "Inputs: surface.vtk, color (.clr) files with one value per cell of it\n"
                 "Output: output.vtp (VTK XML) or output.vtk (legacy VTK): the surface with one cell\n"
                 "        array per color file, named after the file, and its range and color map\n"
                 "Performs: attaches the values of every color file to the cells of the surface.\n";
    return -1;
  }
  const char* surfacePath = argv[1];
  const char* outputPath = argv[2];
  const std::string ending = Ending(outputPath);
  if (ending != ".vtp" && ending != ".vtk")
  {
    std::cout << "Output file " << outputPath << " must end in .vtp (VTK XML) or .vtk (legacy VTK)\n";
    return -1;
  }

  vtkSmartPointer<vtkPolyData> surface = ReadSurface(surfacePath);
  if (!surface)
  {
    return -1;
  }

  // The mesh alone: the input file's own attributes stay behind.
  auto output = vtkSmartPointer<vtkPolyData>::New();
  output->CopyStructure(surface);
  output->SetFieldData(vtkSmartPointer<vtkFieldData>::New());
  bool finite;
  if (!AttachColorFiles(output, surfacePath, std::vector<const char*>(argv + 3, argv + argc), ending == ".vtp", finite))
  {
    return -1;
  }

  // The file is written in one piece.
  std::string text;
  if (!SurfaceText(output, ending == ".vtp", finite, text))
  {
    std::cout << "Cannot write surface " << outputPath << '\n';
    return -1;
  }
  return WriteOutputFile(outputPath, text.data(), text.size()) ? 0 : -1;
}

// colorsurface: a surface with the values of color files attached as cell
// data, for viewers that open VTK files: VTK XML (.vtp) or legacy VTK (.vtk).

#include "surftools/colorfile.h"
#include "surftools/outputfile.h"
#include "parallel/parallel.h"
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

vtkStringArray* TextArray(const std::string& name, const std::vector<std::string>& texts)
{
  vtkStringArray* array = vtkStringArray::New();
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
}

int main(int argc, char* argv[])
{
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
  const vtkIdType cells = surface->GetNumberOfCells();

  // The mesh alone: the input file's own attributes stay behind.
  vtkPolyData* output = vtkPolyData::New();
  output->CopyStructure(surface);
  vtkFieldData* fields = vtkFieldData::New();
  output->SetFieldData(fields);

  std::vector<std::string> names;
  std::vector<const char*> namedBy;
  bool finite = true;
  ColorFileContents contents;
  for (int a = 3; a < argc; ++a)
  {
    const char* colorPath = argv[a];
    const std::string problem = ReadColorFile(colorPath, contents);
    if (!problem.empty())
    {
      std::cout << "Color file " << colorPath << ' ' << problem << '\n';
      return -1;
    }
    const std::string name = ColorValueName(colorPath);
    for (size_t k = 0; k < names.size(); ++k)
    {
      if (names[k] == name)
      {
        std::cout << "Color files " << namedBy[k] << " and " << colorPath << " would give two arrays named "
                  << name << '\n';
        return -1;
      }
    }
    if (ending == ".vtp" && !FitsXmlAttribute(name))
    {
      std::cout << "Color file " << colorPath << " gives the array name " << name
                << ", which a .vtp file cannot hold (it has a \", < or & or a control character)\n";
      return -1;
    }
    vtkSmartPointer<vtkFloatArray> values = ColorCellArray(contents.values, cells, name.c_str());
    if (!values)
    {
      std::cout << CellCountRefusal(colorPath, contents.values.size(), cells, surfacePath);
      return -1;
    }
    finite = finite && AllFinite(values);
    output->GetCellData()->AddArray(values);
    if (a == 3)
    {
      output->GetCellData()->SetActiveScalars(name.c_str());
    }
    fields->AddArray(TextArray(name + "_range", { contents.rangeFirst, contents.rangeSecond }));
    fields->AddArray(TextArray(name + "_colormap", { contents.colorMap }));
    names.push_back(name);
    namedBy.push_back(colorPath);
  }

  // Both writers write into memory; the file is then written in one piece.
  std::string text;
  bool written;
  if (ending == ".vtp")
  {
    vtkXMLPolyDataWriter* writer = vtkXMLPolyDataWriter::New();
    writer->SetInputData(output);
    writer->WriteToOutputStringOn();
    written = writer->Write() != 0 && writer->GetErrorCode() == 0;
    text = writer->GetOutputString();
  }
  else
  {
    // Legacy text as every surface of these tools, but VTK's legacy reader
    // reads no "nan" or "inf" from text: with such a value the file is binary.
    vtkPolyDataWriter* writer = vtkPolyDataWriter::New();
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
  if (!written || text.empty())
  {
    std::cout << "Cannot write surface " << outputPath << '\n';
    return -1;
  }
  return WriteOutputFile(outputPath, text.data(), text.size()) ? 0 : -1;
}

// Helpers of the tests: scratch folders, small surfaces written as legacy VTK
// text, and runs of the built tools with their standard output.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace testutil
{
using Point = std::array<double, 3>;
using Cell = std::vector<long long>;

// A fresh, empty folder for the running test.
inline std::string ScratchDir()
{
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  // One folder tree per build, so that builds of other checkouts testing at
  // the same time keep out of each other's way.
  const std::string tree = "surftools-tests-" + std::to_string(std::hash<std::string>{}(BUILD_DIR) % 1000000);
  std::filesystem::path dir =
    std::filesystem::temp_directory_path() / tree / (std::string(info->test_suite_name()) + "." + info->name());
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string();
}

inline void WriteText(const std::string& path, const std::string& text)
{
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadText(const std::string& path)
{
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The lines of a stream, of a file or of a text (a tool's output).
inline std::vector<std::string> LinesOf(std::istream& in)
{
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
  {
    lines.push_back(line);
  }
  return lines;
}

inline std::vector<std::string> ReadLines(const std::string& path)
{
  std::ifstream in(path);
  return LinesOf(in);
}

inline std::vector<std::string> Lines(const std::string& text)
{
  std::istringstream in(text);
  return LinesOf(in);
}

// A legacy VTK polydata file with float points (written with enough digits to
// hold every float exactly) and the given polygons.
inline void WriteSurfaceFile(const std::string& path, const std::vector<Point>& points, const std::vector<Cell>& cells)
{
  std::ostringstream text;
  text << "# vtk DataFile Version 4.2\ntest surface\nASCII\nDATASET POLYDATA\nPOINTS " << points.size() << " float\n";
  char number[64];
  for (const Point& p : points)
  {
    for (double c : p)
    {
      std::snprintf(number, sizeof number, "%.9g ", static_cast<float>(c));
      text << number;
    }
    text << '\n';
  }
  size_t size = 0;
  for (const Cell& c : cells)
  {
    size += c.size() + 1;
  }
  text << "POLYGONS " << cells.size() << ' ' << size << '\n';
  for (const Cell& c : cells)
  {
    text << c.size();
    for (long long id : c)
    {
      text << ' ' << id;
    }
    text << '\n';
  }
  WriteText(path, text.str());
}

// Corners of triangles, one triangle per entry, written as separate points.
inline void WriteTriangles(const std::string& path, const std::vector<std::array<Point, 3>>& triangles)
{
  std::vector<Point> points;
  std::vector<Cell> cells;
  for (const auto& t : triangles)
  {
    const long long first = static_cast<long long>(points.size());
    points.insert(points.end(), t.begin(), t.end());
    cells.push_back({ first, first + 1, first + 2 });
  }
  WriteSurfaceFile(path, points, cells);
}

inline std::string Quote(const std::string& text)
{
  std::string quoted = "'";
  for (char c : text)
  {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

struct ToolRun
{
  int status;         // exit status, 0 to 255
  std::string output; // standard output
};

// Fails the running test when a tool's error output holds a sanitizer report
// (a build with SURFTOOLS_SANITIZE): a memory error or undefined behaviour is
// a fault even when the tool's output and exit status look right.
inline void ExpectNoSanitizerReport(const std::string& errors, const std::string& command)
{
  if (errors.find("Sanitizer") != std::string::npos || errors.find("runtime error:") != std::string::npos)
  {
    ADD_FAILURE() << "sanitizer report from " << command << ":\n" << errors;
  }
}

// Runs a shell command line and collects its standard output; its error
// output is only checked for sanitizer reports.
inline ToolRun RunShell(std::string command)
{
  char errorPath[] = "/tmp/surftools-stderr-XXXXXX";
  const int errorFile = mkstemp(errorPath);
  if (errorFile >= 0)
  {
    close(errorFile);
  }
  command += " 2>" + Quote(errorFile >= 0 ? errorPath : "/dev/null");
  ToolRun run{ -1, "" };
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe)
  {
    return run;
  }
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
  {
    run.output.append(buffer, n);
  }
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (errorFile >= 0)
  {
    ExpectNoSanitizerReport(ReadText(errorPath), command);
    std::remove(errorPath);
  }
  return run;
}

// Runs a built tool with the arguments in `cwd` (the current folder when
// empty), for two minutes at most. A prefix (a shell command's
// words such as "env -u DISPLAY") goes before the tool.
inline ToolRun RunToolWith(
  const std::string& prefix, const std::string& tool, const std::vector<std::string>& args, const std::string& cwd = "")
{
  std::string command;
  if (!cwd.empty())
  {
    command = "cd " + Quote(cwd) + " && ";
  }
  command += prefix.empty() ? "" : prefix + ' ';
  // A tool that hangs is ended (and its status is then 124, or 137 when it
  // would not end).
  command += "timeout -k 10 120 " + Quote(std::string(TOOLS_DIR) + "/" + tool + "/" + tool);
  for (const std::string& a : args)
  {
    command += ' ' + Quote(a);
  }
  return RunShell(command);
}

// The prefix that runs a tool which renders: nothing when the machine has a
// display, else a virtual display of its own (scripts/with_display.sh, which
// tests running in parallel can start at once), with Xvfb's extra arguments.
inline std::string DisplayPrefix(const std::string& xvfbArguments = "")
{
  const char* display = std::getenv("DISPLAY");
  if (display && *display)
  {
    return "";
  }
  return (xvfbArguments.empty() ? "" : "env WITH_DISPLAY_XVFB_ARGS=" + Quote(xvfbArguments) + ' ') +
    Quote(std::string(SOURCE_DIR) + "/scripts/with_display.sh");
}

inline ToolRun RunTool(const std::string& tool, const std::vector<std::string>& args, const std::string& cwd = "")
{
  return RunToolWith("", tool, args, cwd);
}

// A tool's run in a folder of its own, and the color files it wrote there.
struct ColorRun
{
  std::string dir;
  ToolRun run;
  // The value lines of color file `name`: its lines after the three of its
  // header.
  std::vector<std::string> Values(const std::string& name) const
  {
    std::vector<std::string> lines = ReadLines(dir + "/" + name);
    return std::vector<std::string>(lines.begin() + std::min<size_t>(3, lines.size()), lines.end());
  }
  bool Exists(const std::string& name) const { return std::filesystem::exists(dir + "/" + name); }
};

// A 20 x 20 square in the plane z = `z` from (-4, -4) to (16, 16), split
// along x + y = 12: cell 0 holds the corner (-4, -4), cell 1 the corner
// (16, 16). The target of the tests of the tools that query a surface.
inline void WriteSquare(const std::string& path, double z = 0)
{
  WriteSurfaceFile(path, { { -4, -4, z }, { 16, -4, z }, { 16, 16, z }, { -4, 16, z } }, { { 0, 1, 3 }, { 1, 2, 3 } });
}

// A run of a tool that queries a surface along a curve file (curvesnap,
// lineintersect) in a scratch folder: the square (in the plane z = `z`) as
// target.vtk, `curveText` as the curve file `curveName`, the result written
// to `outputName`.
struct SquareRun
{
  std::string dir;
  std::string outputName;
  ToolRun run;
  std::string Output() const { return ReadText(dir + "/" + outputName); }
};

inline SquareRun RunOnSquare(const std::string& tool, const std::string& curveName, const std::string& curveText,
  const std::string& outputName, double z = 0)
{
  SquareRun square{ ScratchDir(), outputName, {} };
  WriteSquare(square.dir + "/target.vtk", z);
  WriteText(square.dir + "/" + curveName, curveText);
  square.run = RunTool(tool, { "target.vtk", curveName, outputName }, square.dir);
  return square;
}

// A table tool's refusal of each table in `cases` ({ table, reason }) and
// of a wrong argument count: the table written to DIR/t.tsv and refused in
// the one line "`refusal` DIR/t.tsv: reason", exit status 255; the usage
// lines starting with `usage`.
inline void ExpectTableRefusals(const std::string& tool, const std::string& refusal,
  const std::vector<std::pair<std::string, std::string>>& cases, const std::string& usage)
{
  const std::string path = ScratchDir() + "/t.tsv";
  for (const auto& [table, reason] : cases)
  {
    WriteText(path, table);
    const ToolRun run = RunTool(tool, { path });
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.output, refusal + ' ' + path + ": " + reason + "\n");
  }
  const ToolRun run = RunTool(tool, {});
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.output.rfind(usage, 0), 0u) << run.output;
}

// The lines of a color file: header, range, keyword, then the values.
inline std::string ColorFile(
  const std::string& range, const std::string& keyword, const std::vector<std::string>& values)
{
  std::string text = "# OSTRAVELIN SURFACE SCALAR COLOR FILE V1\n" + range + "\n" + keyword + "\n";
  for (const std::string& v : values)
  {
    text += v + "\n";
  }
  return text;
}
}

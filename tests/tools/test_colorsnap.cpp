#include "testutil.h"

#include <vtkImageData.h>
#include <vtkPNGReader.h>
#include <vtkSmartPointer.h>

#include <cmath>
#include <cstdlib>

using namespace testutil;

namespace
{
// A sphere of radius 50 about the origin: `rings` bands of `segments` cells
// each way round, and the x coordinate of every cell's first corner scaled
// to [-1, 1] as its value.
void WriteSphere(const std::string& dir, int rings, int segments)
{
  const double pi = 3.14159265358979323846;
  std::vector<Point> points;
  for (int r = 0; r <= rings; ++r)
  {
    const double polar = pi * r / rings;
    for (int s = 0; s < segments; ++s)
    {
      const double around = 2 * pi * s / segments;
      points.push_back(
        { 50 * std::sin(polar) * std::cos(around), 50 * std::sin(polar) * std::sin(around), 50 * std::cos(polar) });
    }
  }
  std::vector<Cell> cells;
  std::vector<std::string> values;
  std::vector<std::string> masked; // the -x half outside a mask
  for (int r = 0; r < rings; ++r)
  {
    for (int s = 0; s < segments; ++s)
    {
      const long long a = r * segments + s;
      const long long b = r * segments + (s + 1) % segments;
      const long long c = a + segments;
      const long long d = b + segments;
      for (const Cell& cell : { Cell{ a, c, b }, Cell{ b, c, d } })
      {
        cells.push_back(cell);
        char text[32];
        std::snprintf(text, sizeof text, "%g", points[cell[0]][0] / 50);
        values.push_back(text);
        masked.push_back(points[cell[0]][0] < 0 ? "0.0" : text);
      }
    }
  }
  WriteSurfaceFile(dir + "/sphere.vtk", points, cells);
  WriteText(dir + "/x.clr", ColorFile("-1 1", "rainbow", values));
  WriteText(dir + "/reversed.clr", ColorFile("1 -1", "rainbow", values));
  WriteText(dir + "/white.clr", ColorFile("-1 1", "rainbow_symmetric_whitemid", values));
  WriteText(dir + "/masked.clr", ColorFile("-1 1", "rainbow", masked));
}

// Renders under a virtual X display when the machine has no display.
ToolRun RunColorSnap(const std::vector<std::string>& args, const std::string& dir)
{
  return RunToolWith(DisplayPrefix(), "colorsnap", args, dir);
}

struct Pixels
{
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb; // rows from the bottom, as VTK's images
  const unsigned char* At(int x, int y) const { return &rgb[3 * (static_cast<size_t>(y) * width + x)]; }
};

Pixels ReadPng(const std::string& path)
{
  Pixels pixels;
  auto reader = vtkSmartPointer<vtkPNGReader>::New();
  if (!reader->CanReadFile(path.c_str()))
  {
    return pixels;
  }
  reader->SetFileName(path.c_str());
  reader->Update();
  vtkImageData* image = reader->GetOutput();
  int dims[3];
  image->GetDimensions(dims);
  if (image->GetNumberOfScalarComponents() != 3)
  {
    return pixels;
  }
  pixels.width = dims[0];
  pixels.height = dims[1];
  const auto* data = static_cast<const unsigned char*>(image->GetScalarPointer());
  pixels.rgb.assign(data, data + 3 * static_cast<size_t>(dims[0]) * dims[1]);
  return pixels;
}

// Mean x of the clearly blue and of the clearly red pixels of a region
// (-1 when there are none), and the numbers of near-white and of gray ones.
struct Extremes
{
  double blueX = -1;
  double redX = -1;
  int white = 0;
  int gray = 0;
};

Extremes FindExtremes(const Pixels& pixels, int x0, int y0, int x1, int y1)
{
  double blueSum = 0, redSum = 0;
  int blue = 0, red = 0;
  Extremes found;
  for (int y = y0; y < y1; ++y)
  {
    for (int x = x0; x < x1; ++x)
    {
      const unsigned char* p = pixels.At(x, y);
      if (p[2] > 150 && p[2] > p[0] + 100 && p[2] > p[1] + 100)
      {
        blueSum += x;
        ++blue;
      }
      if (p[0] > 150 && p[0] > p[1] + 100 && p[0] > p[2] + 100)
      {
        redSum += x;
        ++red;
      }
      found.white += p[0] > 245 && p[1] > 245 && p[2] > 245;
      found.gray += p[0] > 70 && p[0] < 200 && std::abs(p[0] - p[1]) < 8 && std::abs(p[1] - p[2]) < 8;
    }
  }
  found.blueX = blue ? blueSum / blue : -1;
  found.redX = red ? redSum / red : -1;
  return found;
}
}

TEST(ColorSnap, PaintedViewsFillTheTilesAndTheLegendRunsFromBlueToRed)
{
  const std::string dir = ScratchDir();
  WriteSphere(dir, 24, 48);
  ToolRun run = RunColorSnap({ "sphere.vtk", "x.clr", "x.png" }, dir);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, "");
  const Pixels pixels = ReadPng(dir + "/x.png");
  ASSERT_EQ(pixels.width, 1200);
  ASSERT_EQ(pixels.height, 800);

  // Five views in three columns and two rows (the legend in the sixth tile):
  // each shows the sphere over a good part of its tile.
  const unsigned char* background = pixels.At(5, 5);
  for (int tile = 0; tile < 5; ++tile)
  {
    const int x0 = 400 * (tile % 3);
    const int y0 = tile < 3 ? 400 : 0;
    int painted = 0;
    for (int y = y0; y < y0 + 400; ++y)
    {
      for (int x = x0; x < x0 + 400; ++x)
      {
        const unsigned char* p = pixels.At(x, y);
        painted +=
          std::abs(p[0] - background[0]) + std::abs(p[1] - background[1]) + std::abs(p[2] - background[2]) > 60;
      }
    }
    EXPECT_GT(painted, 400 * 400 / 5) << "tile " << tile;
  }
  // From the front (-y) the sphere's -x side is on the left: blue, +x red.
  const Extremes front = FindExtremes(pixels, 0, 400, 400, 800);
  ASSERT_GE(front.blueX, 0);
  ASSERT_GE(front.redX, 0);
  EXPECT_LT(front.blueX, front.redX);
  // The legend runs from the low end on the left to the high end on the right.
  const Extremes legend = FindExtremes(pixels, 800, 0, 1200, 400);
  ASSERT_GE(legend.blueX, 0);
  ASSERT_GE(legend.redX, 0);
  EXPECT_LT(legend.blueX + 200, legend.redX);

  // Blue belongs to the first range value, which here is the high end.
  run = RunColorSnap({ "sphere.vtk", "reversed.clr", "reversed.png" }, dir);
  ASSERT_EQ(run.status, 0) << run.output;
  const Extremes reversed = FindExtremes(ReadPng(dir + "/reversed.png"), 800, 0, 1200, 400);
  ASSERT_GE(reversed.blueX, 0);
  EXPECT_GT(reversed.blueX, reversed.redX + 200);

  // The white-mid maps put white between blue and red.
  run = RunColorSnap({ "sphere.vtk", "white.clr", "white.png" }, dir);
  ASSERT_EQ(run.status, 0) << run.output;
  const Pixels whitePixels = ReadPng(dir + "/white.png");
  const Extremes white = FindExtremes(whitePixels, 800, 0, 1200, 400);
  ASSERT_GE(white.blueX, 0);
  EXPECT_LT(white.blueX + 200, white.redX);
  int whiteInBar = 0;
  for (int y = 0; y < 400; ++y)
  {
    const unsigned char* p = whitePixels.At(1000, y);
    whiteInBar += p[0] > 245 && p[1] > 245 && p[2] > 245;
  }
  EXPECT_GT(whiteInBar, 20);

  // Cells outside the mask are gray, not the color of 0: no blue on the -x side.
  run = RunColorSnap({ "sphere.vtk", "masked.clr", "masked.png" }, dir);
  ASSERT_EQ(run.status, 0) << run.output;
  const Extremes masked = FindExtremes(ReadPng(dir + "/masked.png"), 0, 400, 400, 800);
  EXPECT_EQ(masked.blueX, -1);
  EXPECT_GE(masked.redX, 0);
  EXPECT_GT(masked.gray, 400 * 400 / 10);
  EXPECT_LT(front.gray, 400 * 400 / 100);

  run = RunColorSnap({ "sphere.vtk", "x.clr", "missing/x.png" }, dir);
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.output, "Cannot create output file missing/x.png\n");
  // A display without OpenGL is refused, not left to VTK, which would abort.
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display)
  {
    run = RunToolWith(DisplayPrefix("-extension GLX"), "colorsnap", { "sphere.vtk", "x.clr", "none.png" }, dir);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.output.rfind("Cannot render none.png: the X display \":", 0), 0u) << run.output;
    EXPECT_NE(run.output.find("\" offers no OpenGL (GLX)\n"), std::string::npos) << run.output;
    EXPECT_FALSE(std::filesystem::exists(dir + "/none.png"));
  }
}

TEST(ColorSnap, RefusesBadInputsBeforeLookingForADisplay)
{
  const std::string dir = ScratchDir();
  WriteSphere(dir, 4, 6); // 48 cells
  WriteSurfaceFile(dir + "/empty.vtk", { { 0, 0, 0 } }, {});
  const std::vector<std::string> values(48, "1");
  WriteText(dir + "/short.clr", ColorFile("0 1", "rainbow", std::vector<std::string>(47, "1")));
  WriteText(dir + "/keyword.clr", ColorFile("0 1", "jet", values));
  WriteText(dir + "/words.clr", ColorFile("low high", "rainbow", values));
  WriteText(dir + "/flat.clr", ColorFile("2 2.0", "rainbow", values));
  WriteText(dir + "/infinite.clr", ColorFile("0 inf", "rainbow", values));
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
    { { "sphere.vtk", "x.clr" }, "Usage: surface.vtk values.clr image.png\n" },
    { { "none.vtk", "x.clr", "a.png" }, "Cannot read surface none.vtk\n" },
    { { "empty.vtk", "x.clr", "a.png" }, "Surface empty.vtk has no cells to paint\n" },
    { { "sphere.vtk", "none.clr", "a.png" }, "Color file none.clr cannot be opened\n" },
    { { "sphere.vtk", "short.clr", "a.png" },
      "Color file short.clr has 47 value lines, which do not fit the 48 cells of surface sphere.vtk\n" },
    { { "sphere.vtk", "keyword.clr", "a.png" }, "Color file keyword.clr has the unknown color map keyword \"jet\"\n" },
    { { "sphere.vtk", "words.clr", "a.png" },
      "Color file words.clr has no range of two different numbers to spread colors over (low high)\n" },
    { { "sphere.vtk", "flat.clr", "a.png" },
      "Color file flat.clr has no range of two different numbers to spread colors over (2 2.0)\n" },
    { { "sphere.vtk", "infinite.clr", "a.png" },
      "Color file infinite.clr has no range of two different numbers to spread colors over (0 inf)\n" },
    { { "sphere.vtk", "x.clr", "a.png" },
      "Cannot open the X display \"\" to render a.png (without a display, run: xvfb-run -a colorsnap ...)\n" },
  };
  for (const auto& [args, message] : cases)
  {
    const ToolRun run = RunToolWith("env -u DISPLAY", "colorsnap", args, dir);
    EXPECT_EQ(run.status, 255) << message;
    EXPECT_EQ(run.output.substr(0, run.output.find('\n') + 1), message);
    EXPECT_FALSE(std::filesystem::exists(dir + "/a.png")) << message;
  }
}

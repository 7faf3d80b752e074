// The cohort workflow with a raw scan given without landmarks: its landmarks
// found and fitted with, kept as a landmark file near those it was made
// with, and shown on its child's page, named and marked where they lie on a
// picture; a scan whose landmarks cannot be found (a sphere, as a .vtk of
// other counts than the template's) fails its fit alone; and the landmarks
// given back as the visit's landmark file fit it without the page's check.
#include "fit/landmarks.h"
#include "fit/surfacetriangles.h"
#include "fit/testshapes.h"
#include "geometry/vector.h"
#include "surftools/surface.h"
#include "tools/browserpage.h"
#include "tools/workflowrun.h"

#include <algorithm>

#include <vtkImageData.h>
#include <vtkPNGReader.h>

using namespace testutil;
using namespace workflowrun;

namespace
{
const char* const kHeader = "subject\tvisit\tage_days\tscan\tlandmarks\n";
const char* const kNames[5] = { "nasion", "right tragus", "left tragus", "vertex", "opisthocranion" };

// The small sample's cohort with n01, seen first on the template and then
// as r01's first raw scan with its landmarks left empty, and p01, whose one
// scan is a sphere.
std::string FoundCohort()
{
  const std::string dir = ScratchDir();
  EXPECT_TRUE(InstallTools(dir));
  EXPECT_EQ(RunShell(Quote(std::string(TOOLS_DIR) + "/../sample/makesample") + ' ' + Quote(dir) + " 12 100").status, 0);
  const double centre[3] = { 100, 100, 60 };
  EXPECT_TRUE(WriteSurface(PolyDataOf(testshapes::Sphere(75, centre, 40, 80)), (dir + "/cohort/sphere.vtk").c_str()));
  WriteText(dir + "/cohort/visits.tsv",
    std::string(kHeader) + "n01\tv1\t95\tsubjects/s01/first.vtk\t\n" +
      "n01\tv2\t180\tsubjects/r01/v1.stl\t\np01\tv1\t100\tsphere.vtk\t\n");
  return dir;
}

// The picture of the landmarks found on n01's second visit, from its page.
vtkSmartPointer<vtkImageData> FoundPicture(const std::string& dir, const std::string& page)
{
  const std::string alt = "alt=\"Landmarks found on the scan of visit v2\"";
  const size_t from = page.find(',', page.find("base64", page.find(alt))) + 1;
  WriteText(dir + "/found.b64", page.substr(from, page.find('"', from) - from));
  EXPECT_EQ(RunShell("base64 -d " + Quote(dir + "/found.b64") + " > " + Quote(dir + "/found.png")).status, 0);
  auto reader = vtkSmartPointer<vtkPNGReader>::New();
  reader->SetFileName((dir + "/found.png").c_str());
  reader->Update();
  return reader->GetOutput();
}

// Whether the tile of the picture (0 front, 1 back: the top row, 400 pixels
// wide) shows the clear color of a landmark's mark: blue (the nasion), red
// (the opisthocranion).
bool Shows(vtkImageData* picture, int tile, bool red)
{
  int shown = 0;
  for (int y = 400; y < 800; ++y)
  {
    for (int x = 400 * tile; x < 400 * tile + 400; ++x)
    {
      const auto* p = static_cast<const unsigned char*>(picture->GetScalarPointer(x, y, 0));
      const int mark = red ? p[0] : p[2];
      shown += mark > 120 && mark > p[1] + 80 && mark > (red ? p[2] : p[0]) + 80;
    }
  }
  return shown >= 4;
}
}

TEST(Workflow, LandmarksLeftEmptyAreFoundKeptAndShownForChecking)
{
  const std::string dir = FoundCohort(), cohort = dir + "/cohort/", out = dir + "/out/";
  const ToolRun run = Snakemake(dir, "out", "--keep-going");
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.output.find("Cannot find the landmarks of scan " + cohort + "sphere.vtk: no clear plane of symmetry"),
    std::string::npos)
    << run.output;
  EXPECT_FALSE(fs::exists(out + "p01/report.html"));
  ASSERT_TRUE(fs::exists(out + "n01/report.html")) << run.output;

  // The landmarks found, a curve file of five rows near those the scan was
  // made with; the visit fitted and measured with them.
  std::vector<Landmark> found, made;
  ASSERT_TRUE(ReadLandmarks((out + "n01/v2/found_landmarks.crv").c_str(), found));
  ASSERT_TRUE(ReadLandmarks((cohort + "subjects/r01/v1_landmarks.crv").c_str(), made));
  ASSERT_EQ(found.size(), 5u);
  for (size_t row = 0; row < 5; ++row)
  {
    EXPECT_LT(Distance(found[row].data(), made[row].data()), 15.0) << kNames[row];
  }
  const std::vector<std::string> measures = ReadLines(out + "n01/measures.tsv");
  ASSERT_EQ(measures.size(), 3u);
  const std::vector<std::string> header = TabFields(measures[0]);
  const size_t rms = std::find(header.begin(), header.end(), "fit_landmark_rms") - header.begin();
  EXPECT_NE(TabFields(measures[2]).at(rms), "") << measures[2];

  // The page: the five named in the fit section, what to do, and the
  // picture, the nasion's mark seen from the front and the opisthocranion's
  // from the back, not the other way round.
  const std::string page = ReadText(out + "n01/report.html");
  const size_t section = page.find("<div class=\"found\" data-visit=\"v2\">");
  ASSERT_NE(section, std::string::npos);
  EXPECT_LT(page.find("id=\"fits\""), section);
  for (const char* name : kNames)
  {
    EXPECT_NE(page.find(std::string("<th scope=\"row\">") + name + "</th>", section), std::string::npos) << name;
  }
  EXPECT_NE(page.find("<code>n01/v2/found_landmarks.crv</code>", section), std::string::npos);
  const size_t summary = page.find("id=\"summary\"");
  EXPECT_LT(
    page.find("the landmarks of visit v2 were found on the scan, not given: check them under the fits", summary),
    page.find("</p>", summary));
  browserpage::ExpectSelfContained(out + "n01/report.html", 6, dir + "/n01.png");
  const vtkSmartPointer<vtkImageData> picture = FoundPicture(dir, page);
  EXPECT_TRUE(Shows(picture, 0, false) && Shows(picture, 1, true));
  EXPECT_FALSE(Shows(picture, 0, true) || Shows(picture, 1, false));

  // The landmarks given back as the visit's landmark file: fitted from them,
  // nothing left to check.
  fs::copy_file(out + "n01/v2/found_landmarks.crv", cohort + "v2_landmarks.crv");
  WriteText(cohort + "visits.tsv",
    std::string(kHeader) + "n01\tv1\t95\tsubjects/s01/first.vtk\t\n" +
      "n01\tv2\t180\tsubjects/r01/v1.stl\tv2_landmarks.crv\n");
  const ToolRun given = Snakemake(dir, "out");
  ASSERT_EQ(given.status, 0) << given.output;
  EXPECT_EQ(ReadText(out + "n01/v2/fit.txt").find("Landmarks found"), std::string::npos);
  EXPECT_EQ(ReadText(out + "n01/report.html").find("class=\"found\""), std::string::npos);
  EXPECT_EQ(ReadText(out + "n01/report.html").find("were found on the scan"), std::string::npos);
}

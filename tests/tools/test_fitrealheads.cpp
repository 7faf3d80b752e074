// fittemplate on heads the template was not made from: the real heads that
// Debian ships (sample/realheads.h) at a child's and an adult's size, one
// made mirror-symmetric, one given only its three midline landmarks, and
// synthetic heads whose proportions are up to 25% off the template's. Each
// raw scan is fitted to a small sample template; the fitted template must
// hold the head's landmarks (within 3 mm of the head's own, which the scan
// was given with about 1 mm of noise) and its measures (length, width and
// circumference within 1% of the scan's own in the fit's frame, CI and CVAI
// within 1). Two of the heads are also fitted from the landmarks fittemplate
// finds on their scans, none given.
#include "fit/landmarks.h"
#include "fit/scanfile.h"
#include "realheads.h"
#include "realheadtest.h"
#include "surftools/surface.h"
#include "testutil.h"

#include <cmath>
#include <filesystem>

using namespace testutil;

namespace
{
// The small sample template (20 rings of 200 points a half: 15,600 cells)
// and its landmarks, five and the three on the midline, in `dir`.
void MakeTemplate(const std::string& dir)
{
  ASSERT_EQ(RunShell(Quote(std::string(TOOLS_DIR) + "/../sample/makesample") + ' ' + Quote(dir) + " 20 200").status, 0);
  const std::vector<std::string> rows = ReadLines(dir + "/rawscan_template_landmarks.crv");
  ASSERT_EQ(rows.size(), 5u);
  WriteText(dir + "/midline.crv", rows[0] + '\n' + rows[3] + '\n' + rows[4] + '\n');
}

// A folder of its own for a case, beside the template.
std::string CaseDir(const std::string& dir, const std::string& name)
{
  std::filesystem::create_directories(dir + "/" + name);
  return dir + "/" + name;
}

// A raw scan of `head` in `dir` (scan.stl, landmarks.crv: given to about 1
// mm) and the head's own landmarks in the scanner's frame, as given to the
// scan.
std::vector<Landmark> WriteScan(const PosedHead& head, const std::string& dir, uint64_t seed, ScanLandmarks which)
{
  RawScanOptions options = RealScanOptions(head, 10000, seed);
  options.landmarkNoise = 1.0 / std::sqrt(3.0);
  RawScan scan;
  EXPECT_TRUE(WriteRealRawScan(head, options, which, dir + "/scan.stl", dir + "/landmarks.crv", scan));
  return TrueScanLandmarks(head, scan, which);
}

// How a scan's landmarks come to the fit: given (all five or the three on
// the midline) or found by fittemplate, and how near the fitted template's
// landmarks must then lie to the head's own (mm, per landmark).
struct FitFrom
{
  ScanLandmarks given;
  bool found;
  std::vector<double> tolerance;
};
const FitFrom kGivenFive = { ScanLandmarks::All, false, { 3, 3, 3, 3, 3 } };
const FitFrom kGivenMidline = { ScanLandmarks::Midline, false, { 3, 3, 3 } };

// Fits the scan in `dir` to the template in `templ` and checks the fit
// against the head; returns the fitted template's CVAI.
double ExpectFitHoldsTheHead(const std::string& templ, const std::string& dir, const std::vector<Landmark>& truth,
  const FitFrom& from, const std::string& what)
{
  SCOPED_TRACE(what);
  const std::string landmarks =
    templ + (from.given == ScanLandmarks::All ? "/rawscan_template_landmarks.crv" : "/midline.crv");
  std::vector<std::string> args = { templ + "/template.vtk", "scan.stl", landmarks, "landmarks.crv", "fitted.vtk" };
  if (from.found)
  {
    args.erase(args.begin() + 3);
  }
  const ToolRun run = RunTool("fittemplate", args, dir);
  EXPECT_EQ(run.status, 0) << run.output;
  vtkSmartPointer<vtkPolyData> templateSurface = ReadSurface((templ + "/template.vtk").c_str());
  vtkSmartPointer<vtkPolyData> fitted = ReadSurface((dir + "/fitted.vtk").c_str());
  std::vector<Landmark> templateLandmarks;
  TriangleSurface scan;
  RigidTransform transform;
  if (run.status != 0 || !fitted || !templateSurface || !ReadLandmarks(landmarks.c_str(), templateLandmarks) ||
    !ReadScan((dir + "/scan.stl").c_str(), scan) || !ParseTransform(run.output, transform))
  {
    ADD_FAILURE() << "no fit to score";
    return 100;
  }
  const RealFitScore score = ScoreRealFit(templateSurface, templateLandmarks, fitted, transform, scan, truth);
  for (size_t l = 0; l < score.landmarkErrors.size(); ++l)
  {
    EXPECT_LT(score.landmarkErrors[l], from.tolerance.at(l)) << "landmark " << l + 1 << '\n' << run.output;
  }
  EXPECT_EQ(score.problem, "");
  const HeadShape& s = score.scan;
  const HeadShape& f = score.fitted;
  if (what.rfind(RealHeadName(RealHead::Bust), 0) == 0)
  {
    // The bust's sculpted third eye, a socket above its nasion, is the hollow
    // the measures take for the nasion on the scan; the fitted template
    // bridges it. Measured from other levels, the two are not comparable.
    return f.cvai;
  }
  EXPECT_NEAR(f.length, s.length, 0.01 * s.length);
  EXPECT_NEAR(f.width, s.width, 0.01 * s.width);
  EXPECT_NEAR(f.circumference, s.circumference, 0.01 * s.circumference);
  EXPECT_NEAR(f.ci, s.ci, 1.0);
  EXPECT_NEAR(f.cvai, s.cvai, 1.0);
  return f.cvai;
}

// A real head scaled to `circumference` mm; false after a failure when it
// cannot be loaded or measured.
bool Load(RealHead which, double circumference, PosedHead& head)
{
  std::string problem;
  if (!LoadRealHeadForTest(which, head))
  {
    return false;
  }
  EXPECT_TRUE(ScaleHead(head, circumference, problem)) << problem;
  return problem.empty();
}

// Each of `heads` at a child's and an adult's size (440 and 560 mm round),
// its raw scan (seeds after `seed`) fitted to the template in `templ` as
// `from` says and checked against the head.
void ExpectEachHeadFits(
  const std::string& templ, std::initializer_list<RealHead> heads, uint64_t seed, const FitFrom& from)
{
  for (RealHead which : heads)
  {
    for (double circumference : { 440.0, 560.0 })
    {
      PosedHead head;
      ASSERT_TRUE(Load(which, circumference, head));
      const std::string name = std::string(RealHeadName(which)) + "-" + std::to_string(static_cast<int>(circumference));
      const std::string dir = CaseDir(templ, name);
      const std::vector<Landmark> truth = WriteScan(head, dir, ++seed, ScanLandmarks::All);
      ExpectFitHoldsTheHead(templ, dir, truth, from, name + (from.found ? ", landmarks found" : ""));
    }
  }
}
}

TEST(FitRealHeads, EveryRealHeadAtAChildsAndAnAdultsSizeKeepsItsLandmarksAndMeasures)
{
  const std::string templ = ScratchDir();
  MakeTemplate(templ);
  ExpectEachHeadFits(templ, { RealHead::Scanned, RealHead::Bust, RealHead::Average }, 41, kGivenFive);
}

TEST(FitRealHeads, TheScalpAndTheBustFitFromTheLandmarksFoundOnTheirScans)
{
  // No landmark given: fittemplate finds them. The fitted template holds the
  // head's measures as a fit from given landmarks does; its landmarks lie
  // where the found ones were put, and those differ from the head's own
  // picked ones (docs/fit.md, "Landmarks found"): the nasion a few mm below
  // the scalp's fiducial, the tragi by the template's proportions or the
  // bust's sculpted ear, the scalp's opisthocranion on its flat back moving
  // with the nasion. The scanned head, without ears, is refused instead
  // (LandmarksFound.AFitFromLandmarksFoundAstrayIsRefusedAndTheGivenOnesFit).
  const std::string templ = ScratchDir();
  MakeTemplate(templ);
  ExpectEachHeadFits(
    templ, { RealHead::Average, RealHead::Bust }, 90, { ScanLandmarks::All, true, { 8, 16, 16, 4, 18 } });
}

TEST(FitRealHeads, AMirrorSymmetricHeadFitsSymmetricAndThreeMidlineLandmarksServeAsFive)
{
  const std::string templ = ScratchDir();
  MakeTemplate(templ);
  PosedHead head;
  ASSERT_TRUE(Load(RealHead::Average, 470, head));
  PosedHead symmetric;
  std::string problem;
  ASSERT_TRUE(MirrorRightHalf(head, symmetric, problem)) << problem;
  const std::string dir = CaseDir(templ, "symmetric");
  const std::vector<Landmark> truth = WriteScan(symmetric, dir, 7, ScanLandmarks::All);
  EXPECT_LT(ExpectFitHoldsTheHead(templ, dir, truth, kGivenFive, "symmetric"), 1.0);

  const std::string midline = CaseDir(templ, "midline");
  const std::vector<Landmark> midlineTruth = WriteScan(head, midline, 8, ScanLandmarks::Midline);
  ExpectFitHoldsTheHead(templ, midline, midlineTruth, kGivenMidline, "three midline landmarks");
}

namespace
{
// A head of other proportions than the template's: its front (y below the
// ear midpoint), back, top (z above it) and width scaled by their own
// factors, joined smoothly (over about 20 mm).
struct Proportions
{
  double front, back, up, side;
  void Apply(const double p[3], double out[3]) const
  {
    const double* m = kEarMidpoint;
    const double y = p[1] - m[1];
    const double z = p[2] - m[2];
    const double along = 0.5 * (front + back) + 0.5 * (back - front) * std::tanh(y / 20.0);
    const double high = 0.5 * (1.0 + up) + 0.5 * (up - 1.0) * std::tanh(z / 20.0);
    out[0] = m[0] + side * (p[0] - m[0]);
    out[1] = m[1] + along * y;
    out[2] = m[2] + high * z;
  }
};
}

TEST(FitRealHeads, SyntheticHeadsWhoseProportionsAreAQuarterOffKeepTheirLandmarksAndMeasures)
{
  const std::string templ = ScratchDir();
  MakeTemplate(templ);
  vtkSmartPointer<vtkPolyData> surface = ReadSurface((templ + "/template.vtk").c_str());
  ASSERT_NE(surface, nullptr);
  std::vector<Landmark> landmarks;
  ASSERT_TRUE(ReadLandmarks((templ + "/rawscan_template_landmarks.crv").c_str(), landmarks));
  // A long head with a deep face and a high vault, then a short, broad, low one.
  const Proportions cases[2] = { { 1.25, 0.9, 1.15, 0.85 }, { 0.8, 1.1, 0.85, 1.2 } };
  uint64_t seed = 61;
  for (const Proportions& p : cases)
  {
    PosedHead head;
    head.surface = vtkSmartPointer<vtkPolyData>::New();
    head.surface->DeepCopy(surface);
    for (vtkIdType i = 0; i < surface->GetNumberOfPoints(); ++i)
    {
      double x[3];
      surface->GetPoint(i, x);
      p.Apply(x, x);
      head.surface->GetPoints()->SetPoint(i, x);
    }
    for (Landmark& l : landmarks)
    {
      head.landmarks.emplace_back();
      p.Apply(l.data(), head.landmarks.back().data());
    }
    // Its chin, below which the scan is cut: the template's chin (40 mm below the ear plane), moved.
    const double chin[3] = { kEarMidpoint[0], kEarMidpoint[1] - 60.0, kEarMidpoint[2] - 30.0 };
    p.Apply(chin, head.chin.data());
    const std::string dir = CaseDir(templ, "proportions" + std::to_string(seed));
    const std::vector<Landmark> truth = WriteScan(head, dir, ++seed, ScanLandmarks::All);
    ExpectFitHoldsTheHead(templ, dir, truth, kGivenFive, dir);
  }
}

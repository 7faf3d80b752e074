#include "testutil.h"

using namespace testutil;

namespace
{
const char* const kHeader = "file\tvalues\tminimum\tmaximum\tmean\trms\tp5\tp50\tp95\tmasked\tnonfinite\n";
}

TEST(ColorStats, UsageWithoutFiles)
{
  const ToolRun run = RunTool("colorstats", {});
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.output,
    "Usage: values.clr [more.clr ...]\n"
    "Inputs: color (.clr) files\n"
    "Output: on standard output, a header row and one tab-separated row per file:\n"
    "        file values minimum maximum mean rms p5 p50 p95 masked nonfinite\n"
    "Performs: statistics of the values of each file; the literal 0.0 lines of cells\n"
    "          outside a mask and values that are not finite are counted apart.\n");
}

TEST(ColorStats, OneRowPerFileWithMaskedAndNonFiniteLinesCountedApart)
{
  const std::string dir = ScratchDir();
  // Statistics over 4, -2, 1, 3, 10 (sorted -2 1 3 4 10): mean 16 / 5, rms
  // sqrt(130 / 5); p5 at rank 0.2: -2 + 0.2 * 3; p95 at rank 3.8: 4 + 0.8 * 6.
  WriteText(dir + "/a.clr", ColorFile("-5 5", "rainbow", { "4", "-2", "0.0", "1", "3", "nan", "10", "0.0", "-inf" }));
  // An even count: the median lies halfway between the middle two; 0 is a value, 0.0 is not.
  WriteText(dir + "/b.clr", ColorFile("0 1", "rainbow", { "0", "1", "0.0", "2", "7" }));
  WriteText(dir + "/masked.clr", ColorFile("0 1", "rainbow", { "0.0", "0.0" }));
  WriteText(dir + "/empty.clr", ColorFile("0 1", "rainbow", {}));
  WriteText(dir + "/one.clr", ColorFile("0 1", "rainbow", { "-0.000123457" }));
  const ToolRun run = RunTool("colorstats", { "a.clr", "b.clr", "masked.clr", "empty.clr", "one.clr" }, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output,
    std::string(kHeader) +
      "a.clr\t5\t-2\t10\t3.2\t5.09902\t-1.4\t3\t8.8\t2\t2\n"
      "b.clr\t4\t0\t7\t2.5\t3.67423\t0.15\t1.5\t6.25\t1\t0\n"
      "masked.clr\t0\t\t\t\t\t\t\t\t2\t0\n"
      "empty.clr\t0\t\t\t\t\t\t\t\t0\t0\n"
      "one.clr\t1\t-0.000123457\t-0.000123457\t-0.000123457\t0.000123457\t-0.000123457\t-0.000123457\t-0.000123457\t0\t0\n");
}

TEST(ColorStats, RefusedFilePrintsOnlyItsLine)
{
  const std::string dir = ScratchDir();
  WriteText(dir + "/good.clr", ColorFile("0 1", "rainbow", { "1" }));
  WriteText(dir + "/bad.clr", ColorFile("0 1", "rainbow", { "1", "one" }));
  ToolRun run = RunTool("colorstats", { "good.clr", "bad.clr", "good.clr" }, dir);
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.output, "Color file bad.clr has no number on line 5\n");
  run = RunTool("colorstats", { "good.clr", "gone.clr" }, dir);
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.output, "Color file gone.clr cannot be opened\n");
  WriteText(dir + "/tab\tname.clr", ColorFile("0 1", "rainbow", { "1" }));
  run = RunTool("colorstats", { "good.clr", "tab\tname.clr" }, dir);
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(
    run.output, "Color file tab\tname.clr has a tab or a line break in its name, which would break the table\n");
}

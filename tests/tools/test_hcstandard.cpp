// hcstandard on a planted table of visits: the z-scores and percentiles
// worked out by hand from the WHO table, nothing where the sex is unknown or
// the age past 60 months, every other column kept; and its refusals.
#include "surftools/listfile.h"
#include "testutil.h"

#include <cmath>

using namespace testutil;

TEST(Hcstandard, ZScoresAndPercentilesByHandAndNothingWithoutASexOrPastTheStandard)
{
  // 1461 days are 48 months: the table's boys' M there (502.115 mm) sits at
  // z 0, the girls' M (1 + 2 S) (M 493.321 mm, S 0.02878) at z 2. A boy of
  // 137 days (4.5010 months) with 420 mm takes M and S between his months 4
  // and 5.
  const std::string dir = ScratchDir();
  char girl[32];
  std::snprintf(girl, sizeof(girl), "%.9g", 493.321 * (1 + 2 * 0.02878));
  const std::string table = "subject\tnote\tage_days\tsex\tcircumference\n"
                            "a\tfirst visit\t1461\tmale\t502.115\n"
                            "b\t\t1461\tfemale\t" +
    std::string(girl) +
    "\n"
    "c\t\t137\tmale\t420\n"
    "d\t\t200\t\t430\n"
    "e\t\t1827\tfemale\t500\n"
    "f\t\t\tmale\t430\n";
  WriteText(dir + "/v.tsv", table);
  const ToolRun run = RunTool("hcstandard", { dir + "/v.tsv" });
  ASSERT_EQ(run.status, 0) << run.output;
  std::istringstream lines(run.output);
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(lines, line);)
  {
    rows.push_back(TabFields(line));
  }
  ASSERT_EQ(rows.size(), 7u);
  EXPECT_EQ(rows[0], TabFields("subject\tnote\tage_days\tsex\tcircumference\thc_z\thc_percentile"));
  EXPECT_EQ(rows[1], TabFields("a\tfirst visit\t1461\tmale\t502.115\t0\t50"));
  ASSERT_EQ(rows[2].size(), 7u);
  EXPECT_NEAR(std::stod(rows[2][5]), 2, 1e-5);
  EXPECT_NEAR(std::stod(rows[2][6]), 97.725, 1e-3);
  const double t = 137 / 30.4375 - 4;
  const double m = 41.6317 + t * (42.5576 - 41.6317);
  const double s = 0.02868 + t * (0.02837 - 0.02868);
  ASSERT_EQ(rows[3].size(), 7u);
  EXPECT_NEAR(std::stod(rows[3][5]), (42.0 / m - 1) / s, 1e-5);
  EXPECT_NEAR(std::stod(rows[3][6]), 50 * std::erfc(-(42.0 / m - 1) / s / std::sqrt(2.0)), 1e-4);
  // No sex, an age past 60 months (1826.25 days), no age: empty fields.
  for (int r = 4; r <= 6; ++r)
  {
    EXPECT_EQ(rows[r].size(), 7u);
    EXPECT_EQ(rows[r][5] + rows[r][6], "") << r;
  }
}

TEST(Hcstandard, RefusesATableItCannotReadInOneLine)
{
  const std::string header = "age_days\tsex\tcircumference\n";
  ExpectTableRefusals("hcstandard", "Cannot read the table",
    {
      { "age_days\tcircumference\n1\t400\n", "its header has no column sex" },
      { header + "100\tboy\t400\n", "line 2: sex \"boy\" is not female, male or empty" },
      { header + "100\tmale\t400\n100.5\tmale\t400\n", "line 3: age_days \"100.5\" is not a whole number of days" },
      { header + "100\tmale\t-4\n", "line 2: circumference \"-4\" is not a length" },
      { header + "100\tmale\n", "line 2 has 2 fields, not 3" },
      { "", "it cannot be opened, or it is empty" },
    },
    "Usage: hcstandard table.tsv\n");
}

// cohortstats on a planted table of visits: the first and latest visit of
// each subject, marked visits left out, the paired test and the change per
// month as worked out by hand; and its refusals.
#include "surftools/listfile.h"
#include "testutil.h"

#include <cmath>

using namespace testutil;

namespace
{
const std::string kHeader = "subject\tvisit\tage_days\tlength\twidth\tci\tcircumference\tdiagonal_a\tdiagonal_b\t"
                            "cva\tcvai\tvolume\tasr\tpsr\tosr\tcheck\n";

// A row whose ci is `ci` and every other measure 1.
std::string Row(
  const std::string& subject, const std::string& age, const std::string& ci, const std::string& check = "")
{
  return subject + "\tv\t" + age + "\t1\t1\t" + ci + "\t1\t1\t1\t1\t1\t1\t1\t1\t1\t" + check + "\n";
}
}

TEST(Cohortstats, FirstAndLatestVisitsTheirChangeAndItsTestAsWorkedOutByHand)
{
  // a: ci 80 -> 81 over 10 months; b: 82 -> 85 over 5 months, its middle
  // visit marked; c: one visit; d: its latest visit marked, so it counts at
  // the first visit only.
  const std::string dir = ScratchDir();
  WriteText(dir + "/cohort.tsv",
    kHeader + Row("a", "100", "80") + Row("a", "404.375", "81") + Row("b", "100", "82") +
      Row("b", "200", "99", "fit: 45% unmatched") + Row("b", "252.1875", "85") + Row("c", "120", "78") +
      Row("d", "90", "84") + Row("d", "200", "70", "fit: a landmark 6 mm off"));
  const ToolRun run = RunTool("cohortstats", { dir + "/cohort.tsv" });
  ASSERT_EQ(run.status, 0) << run.output;
  std::istringstream lines(run.output);
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(lines, line);)
  {
    rows.push_back(TabFields(line));
  }
  ASSERT_EQ(rows.size(), 14u);
  EXPECT_EQ(rows[0],
    TabFields("measure\tfirst_n\tfirst_mean\tfirst_sd\tlatest_n\tlatest_mean\tlatest_sd\tchange_n\t"
              "change_mean\tchange_sd\tt\tp\tchange_per_month"));
  ASSERT_EQ(rows[3].size(), 13u);
  EXPECT_EQ(rows[3][0], "ci");
  // The changes 1 and 3: mean 2, sd sqrt(2), t = 2 on one degree of freedom,
  // whose two-sided p is 1 - 2 atan(2) / pi.
  const double expected[] = { 4, 81, std::sqrt(20.0 / 3), 2, 83, std::sqrt(8.0), 2, 2, std::sqrt(2.0), 2,
    1 - 2 * std::atan(2.0) / M_PI, (0.1 + 0.6) / 2 };
  for (size_t k = 0; k < 12; ++k)
  {
    EXPECT_NEAR(std::stod(rows[3][k + 1]), expected[k], 1e-5 * std::max(1.0, expected[k])) << rows[0][k + 1];
  }
  // A measure that does not change at all: no test.
  EXPECT_EQ(rows[1], TabFields("length\t4\t1\t0\t2\t1\t0\t2\t0\t0\t\t\t0"));
  // A table without the growth standard's z-score: nothing for it.
  EXPECT_EQ(rows[13], TabFields("hc_z\t0\t\t\t0\t\t\t0\t\t\t\t\t"));
}

TEST(Cohortstats, GrowthZScoresCountOnlyTheVisitsThatHaveOne)
{
  // a: z 0.5 -> 1.0 over 10 months; b: z -1 at its first visit, none at its
  // latest (past the standard); c: no sex, no z at all.
  const std::string dir = ScratchDir();
  const std::string header = kHeader.substr(0, kHeader.size() - 1) + "\thc_z\n";
  const auto row = [](const std::string& subject, const std::string& age, const std::string& z) {
    return Row(subject, age, "80").substr(0, Row(subject, age, "80").size() - 1) + "\t" + z + "\n";
  };
  WriteText(dir + "/cohort.tsv",
    header + row("a", "100", "0.5") + row("a", "404.375", "1") + row("b", "1700", "-1") + row("b", "1900", "") +
      row("c", "100", "") + row("c", "200", ""));
  const ToolRun run = RunTool("cohortstats", { dir + "/cohort.tsv" });
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string last = run.output.substr(run.output.rfind("hc_z"));
  EXPECT_EQ(
    TabFields(last.substr(0, last.size() - 1)), TabFields("hc_z\t2\t-0.25\t1.06066\t1\t1\t\t1\t0.5\t\t\t\t0.05"));
}

TEST(Cohortstats, RefusesATableItCannotReadInOneLine)
{
  ExpectTableRefusals("cohortstats", "Cannot read the measures table",
    {
      { "subject\tage_days\tci\n" + Row("a", "1", "2"), "its header has no column check" },
      { kHeader + Row("a", "1", "80") + Row("a", "ten", "81"), "line 3: the age_days 'ten' is not a number" },
      { kHeader + Row("a", "1", "n/a"), "line 2: the ci 'n/a' is not a number" },
      { kHeader + "a\tv\t1\n", "line 2 has 3 fields, not 16" },
      { kHeader, "it has no visit" },
    },
    "Usage: cohortstats cohort_measures.tsv\n");
}

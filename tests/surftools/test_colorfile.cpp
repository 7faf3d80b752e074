#include "surftools/colorfile.h"
#include "surftools/outputfile.h"
#include "testutil.h"

#include <vtkFloatArray.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

using namespace testutil;

namespace
{
std::string Printf(double value)
{
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string Formatted(double value)
{
  char text[kNumberTextSize];
  return std::string(text, FormatNumber(value, text));
}
}

TEST(NumberText, MatchesPrintfOnExamples)
{
  EXPECT_EQ(Formatted(0.1234567), "0.123457");
  EXPECT_EQ(Formatted(-2.5), "-2.5");
  EXPECT_EQ(Formatted(4), "4");
  EXPECT_EQ(Formatted(2.5e6), "2.5e+06");
  EXPECT_EQ(Formatted(0.00001234), "1.234e-05");
  EXPECT_EQ(Formatted(-0.0), "-0");
  EXPECT_EQ(Formatted(0.0), "0");
  EXPECT_EQ(Formatted(static_cast<float>(0.1)), "0.1");
  EXPECT_EQ(Formatted(999999.5), Printf(999999.5));
  EXPECT_EQ(Formatted(100000.5), Printf(100000.5)); // an exact tie
  EXPECT_EQ(Formatted(1e-4), "0.0001");
  EXPECT_EQ(Formatted(1e300), "1e+300");
}

TEST(NumberText, MatchesPrintfOnEveryKindOfValue)
{
  std::mt19937_64 random(12345);
  std::vector<double> values = { std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
    std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
    std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::max(), 9.999995e-5, 9.9999949999e-5,
    999999.4999999, 0.5, 1.5 };
  for (int i = 0; i < 300000; ++i)
  {
    const uint64_t bits = random();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    values.push_back(d); // any double
    float f;
    const uint32_t fbits = static_cast<uint32_t>(bits >> 7);
    std::memcpy(&f, &fbits, sizeof f);
    values.push_back(f); // any float, widened
    // Values of head-scan size, and decimal numbers at rounding boundaries.
    values.push_back(std::ldexp(static_cast<double>(bits >> 11), -static_cast<int>(random() % 90)));
    const double decimal = static_cast<double>(random() % 20000000) / 2.0;
    values.push_back(decimal * std::pow(10.0, static_cast<int>(random() % 40) - 20));
  }
  for (double v : values)
  {
    ASSERT_EQ(Formatted(v), Printf(v)) << "value bits of " << Printf(v);
  }
}

TEST(ColorFile, HeaderRangeKeywordAndValuesInOrder)
{
  const std::string dir = ScratchDir();
  const std::string path = dir + "/a.clr";
  OutputFile out = OpenColorFile(path.c_str());
  WriteColorHeader(out, "10.0", "-10.0", "rainbow");
  WriteColorValue(out, -0.0f);
  WriteColorValue(out, 0.00001234);
  WriteColorLiteral(out, "0.0");
  WriteColorValue(out, 2.5e6f);
  ASSERT_TRUE(CloseOutputFile(out, path.c_str()));
  EXPECT_EQ(ReadText(path), ColorFile("10.0 -10.0", "rainbow", { "-0", "1.234e-05", "0.0", "2.5e+06" }));
  EXPECT_EQ(ColorRangeText(static_cast<float>(std::atof("-0.50"))), "-0.5");
}

TEST(ColorFile, FileThatCannotBeCreatedIsReportedAtClose)
{
  const std::string path = ScratchDir() + "/missing/a.clr";
  OutputFile out = OpenColorFile(path.c_str());
  WriteColorHeader(out, "1", "2", "rainbow");
  testing::internal::CaptureStdout();
  EXPECT_FALSE(CloseOutputFile(out, path.c_str()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cannot create output file " + path + "\n");
}

TEST(ColorFile, MaskReaderTakesTheNumberAtTheStartOfEachLine)
{
  const std::string dir = ScratchDir();
  const std::string path = dir + "/mask.clr";
  WriteText(
    path, "# OSTRAVELIN SURFACE SCALAR COLOR FILE V1\r\n0 1\r\nrainbow\r\n1\r\n  0.5 words\r\n1 and more\r\n-2e-1\r\n");
  float values[4];
  ASSERT_EQ(ReadColorValues(path.c_str(), 4, values), ColorReadStatus::Ok);
  EXPECT_EQ(values[0], 1.0f);
  EXPECT_EQ(values[1], 0.5f);
  EXPECT_EQ(values[2], 1.0f);
  EXPECT_EQ(values[3], -0.2f);
}

TEST(ColorFile, MaskReaderReportsMissingShortAndNonNumericFiles)
{
  const std::string dir = ScratchDir();
  float values[3];
  vtkIdType line = 0;
  EXPECT_EQ(ReadColorValues((dir + "/none.clr").c_str(), 3, values, &line), ColorReadStatus::CannotOpen);

  WriteText(dir + "/short.clr", ColorFile("0 1", "rainbow", { "1", "0" }));
  EXPECT_EQ(ReadColorValues((dir + "/short.clr").c_str(), 3, values, &line), ColorReadStatus::TooFewLines);
  EXPECT_EQ(line, 6);

  WriteText(dir + "/words.clr", ColorFile("0 1", "rainbow", { "1", "yes", "0" }));
  EXPECT_EQ(ReadColorValues((dir + "/words.clr").c_str(), 3, values, &line), ColorReadStatus::NotANumber);
  EXPECT_EQ(line, 5);

  // An overlong line counts as one line: its start is read, the rest skipped.
  WriteText(dir + "/long.clr", ColorFile("0 1", "rainbow", { "1 " + std::string(3000, 'x'), "0", "1" }));
  ASSERT_EQ(ReadColorValues((dir + "/long.clr").c_str(), 3, values), ColorReadStatus::Ok);
  EXPECT_EQ(values[1], 0.0f);
  EXPECT_EQ(values[2], 1.0f);
}

TEST(ColorFile, WholeFileReaderKeepsRangeKeywordValuesAndMaskedLines)
{
  const std::string path = ScratchDir() + "/whole.clr";
  WriteText(path,
    "# OSTRAVELIN SURFACE SCALAR COLOR FILE V1\r\n5.000 -5.000\r\nrainbow_whitemid\r\n"
    "1\r\n0.0\r\n0\r\n-2.5 words\r\nnan\r\n0.00\r\n");
  ColorFileContents contents;
  ASSERT_EQ(ReadColorFile(path.c_str(), contents), "");
  EXPECT_EQ(contents.rangeFirst, "5.000");
  EXPECT_EQ(contents.rangeSecond, "-5.000");
  EXPECT_EQ(contents.colorMap, "rainbow_whitemid");
  ASSERT_EQ(contents.values.size(), 6u);
  EXPECT_EQ(contents.values[0], 1.0f);
  EXPECT_EQ(contents.values[3], -2.5f);
  EXPECT_TRUE(std::isnan(contents.values[4]));
  // Only the literal "0.0" marks a cell outside a mask.
  EXPECT_EQ(contents.masked, (std::vector<unsigned char>{ 0, 1, 0, 0, 0, 0 }));

  // Header lines only: no values, no problem.
  WriteText(path, ColorFile("a b", "rainbow", {}));
  ASSERT_EQ(ReadColorFile(path.c_str(), contents), "");
  EXPECT_TRUE(contents.values.empty());
  EXPECT_EQ(contents.rangeFirst, "a");
}

TEST(ColorFile, WholeFileReaderNamesWhatIsWrong)
{
  const std::string dir = ScratchDir();
  ColorFileContents contents;
  const std::vector<std::pair<std::string, std::string>> cases = {
    { ColorFile("0 1", "rainbow", { "1", "", "2" }), "has no number on line 5" },
    { ColorFile("0 1", "rainbow", { "1", "x" }), "has no number on line 5" },
    { ColorFile("0", "rainbow", { "1" }), "has no range of two fields on line 2" },
    { ColorFile("0 1 2", "rainbow", { "1" }), "has no range of two fields on line 2" },
    { "# vtk DataFile Version 4.2\n0 1\nrainbow\n1\n", "is not a scalar color file: line 1 is not its header" },
    { "# OSTRAVELIN SURFACE SCALAR COLOR FILE V1\n0 1\n", "ends before its color map line (line 3)" },
  };
  for (const auto& [text, problem] : cases)
  {
    WriteText(dir + "/bad.clr", text);
    EXPECT_EQ(ReadColorFile((dir + "/bad.clr").c_str(), contents), problem) << text;
  }
  EXPECT_EQ(ReadColorFile((dir + "/none.clr").c_str(), contents), "cannot be opened");
  EXPECT_EQ(ReadColorFile(dir.c_str(), contents), "cannot be read");
}

TEST(ColorFile, ValueNamesAndPerCellArrays)
{
  EXPECT_EQ(ColorValueName("values.clr"), "values");
  EXPECT_EQ(ColorValueName("out/run.1/first scan.clr"), "first scan");
  EXPECT_EQ(ColorValueName("mask.txt"), "mask.txt");
  EXPECT_EQ(ColorValueName("dir/.clr"), ".clr");

  vtkSmartPointer<vtkFloatArray> full = ColorCellArray({ 1, 2, 3 }, 3, "full");
  ASSERT_NE(full, nullptr);
  EXPECT_STREQ(full->GetName(), "full");
  EXPECT_EQ(full->GetNumberOfTuples(), 3);
  EXPECT_EQ(full->GetValue(2), 3.0f);
  // Mirror pairs of an odd mesh: the last cell has no value.
  vtkSmartPointer<vtkFloatArray> pairs = ColorCellArray({ 1, 2 }, 3, "pairs");
  ASSERT_NE(pairs, nullptr);
  EXPECT_EQ(pairs->GetNumberOfTuples(), 3);
  EXPECT_EQ(pairs->GetValue(1), 2.0f);
  EXPECT_TRUE(std::isnan(pairs->GetValue(2)));
  EXPECT_EQ(ColorCellArray({ 1, 2, 3 }, 4, "short"), nullptr);
  EXPECT_EQ(ColorCellArray({ 1, 2 }, 1, "long"), nullptr);
  EXPECT_EQ(ColorCellArray({ 1 }, 3, "half"), nullptr);
}

TEST(ColorFile, MaskLineWithANulByteEndsAtItsOwnLineFeed)
{
  // The NUL once cut the line short, so that the rest of it was skipped up to
  // the next line feed: the following value line was lost.
  const std::string dir = ScratchDir();
  WriteText(dir + "/nul.clr", ColorFile("0 1", "rainbow", { std::string("1\0 2", 4), "0", "1" }));
  float values[3];
  vtkIdType line = 0;
  ASSERT_EQ(ReadColorValues((dir + "/nul.clr").c_str(), 3, values, &line), ColorReadStatus::Ok);
  EXPECT_EQ(values[0], 1.0f);
  EXPECT_EQ(values[1], 0.0f);
  EXPECT_EQ(values[2], 1.0f);
  // Only the first 1023 characters of a line are parsed.
  WriteText(
    dir + "/blanks.clr", ColorFile("0 1", "rainbow", { std::string(1022, ' ') + "7", std::string(1023, ' ') + "7" }));
  EXPECT_EQ(ReadColorValues((dir + "/blanks.clr").c_str(), 2, values, &line), ColorReadStatus::NotANumber);
  EXPECT_EQ(values[0], 7.0f);
  EXPECT_EQ(line, 5);
}

TEST(ColorFile, MaskThatIsAFolderCannotBeOpened)
{
  const std::string dir = ScratchDir();
  float values[1];
  vtkIdType line = 0;
  EXPECT_EQ(ReadColorValues(dir.c_str(), 1, values, &line), ColorReadStatus::CannotOpen);
  EXPECT_EQ(line, 0);
}

TEST(ColorFile, MaskValuesAreScanfsOnEveryKindOfLine)
{
  // Plain numbers of every shape (read the fast way) and lines that only
  // scanf settles: its greedy reading of "1e", hexadecimal, infinities and
  // NaNs, leading blanks of other kinds, nothing at all.
  const std::vector<std::string> lines = { "1", "0", "-0", "+2.5", "0.1", "3.", ".5", "-.5e-3", "123456789012", "1e38",
    "1e39", "-1e-46", "7.0000001", "16777217", "1e", "1ex", "1e+", "2 3", "4\t5", "6\r", "  7", "\t8", "\v9", "\f10",
    "0x1p3", "0x", "inf", "-Infinity", "nan", "nan(12)", "-", ".", "+.e1", "x", "", "1.5.5", "1e5x", "1,5" };
  const std::string dir = ScratchDir();
  for (size_t k = 0; k < lines.size(); ++k)
  {
    float expected = 0;
    const bool parsed = std::sscanf(lines[k].c_str(), "%f", &expected) == 1;
    float read[1];
    // Each line alone: the read stops at the first line without a number.
    WriteText(dir + "/one.clr", "header\nrange\nkeyword\n" + lines[k] + '\n');
    const ColorReadStatus status = ReadColorValues((dir + "/one.clr").c_str(), 1, read);
    ASSERT_EQ(status, parsed ? ColorReadStatus::Ok : ColorReadStatus::NotANumber) << '"' << lines[k] << '"';
    if (parsed)
    {
      EXPECT_EQ(std::memcmp(&read[0], &expected, sizeof expected), 0) << '"' << lines[k] << '"';
    }
  }
}

#include "surftools/curvefile.h"

#include "testutil.h"

#include <cstdio>

using namespace testutil;

namespace
{
using Row = std::array<float, 3>;

// The points that ReadCurveFile gives for a file holding `text`.
std::vector<Row> Read(const std::string& text)
{
  const std::string path = ScratchDir() + "/curve.crv";
  WriteText(path, text);
  vtkSmartPointer<vtkPoints> points;
  EXPECT_TRUE(ReadCurveFile(path.c_str(), points));
  std::vector<Row> rows;
  for (vtkIdType i = 0; i < points->GetNumberOfPoints(); ++i)
  {
    double p[3];
    points->GetPoint(i, p);
    rows.push_back({ static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2]) });
  }
  EXPECT_EQ(points->GetDataType(), VTK_FLOAT);
  return rows;
}

using Rows = std::vector<Row>;
}

TEST(CurveFile, FinalLineFeedGivesOneMoreRepeatedPoint)
{
  EXPECT_EQ(Read("1 2 3\n4 5 6\n"), (Rows{ { 1, 2, 3 }, { 4, 5, 6 }, { 4, 5, 6 } }));
  EXPECT_EQ(Read("1 2 3\n4 5 6"), (Rows{ { 1, 2, 3 }, { 4, 5, 6 } }));
  EXPECT_EQ(Read("1 2 3\r\n4 5 6\r\n"), (Rows{ { 1, 2, 3 }, { 4, 5, 6 }, { 4, 5, 6 } }));
  EXPECT_EQ(Read("1 2 3\r\n4 5 6\r"), (Rows{ { 1, 2, 3 }, { 4, 5, 6 } }));
  EXPECT_EQ(Read(""), (Rows{ { 0, 0, 0 } }));
  EXPECT_EQ(Read("\n"), (Rows{ { 0, 0, 0 }, { 0, 0, 0 } }));
}

TEST(CurveFile, FieldsThatDoNotConvertKeepThePreviousValues)
{
  // A blank line repeats the previous point.
  EXPECT_EQ(Read("1 2 3\n\n4 5 6"), (Rows{ { 1, 2, 3 }, { 1, 2, 3 }, { 4, 5, 6 } }));
  // A header-like first line gives (0, 0, 0); the rows after it read as usual.
  EXPECT_EQ(Read("points 2\n1 2 3\n4 5 6\n"), (Rows{ { 0, 0, 0 }, { 1, 2, 3 }, { 4, 5, 6 }, { 4, 5, 6 } }));
  // Two numbers change x and y only; commas stop the parse after x.
  EXPECT_EQ(Read("1 2 3\n7 8\n1,2,3"), (Rows{ { 1, 2, 3 }, { 7, 8, 3 }, { 1, 8, 3 } }));
  // A number that stops at a word still counts; a word stops the rest.
  EXPECT_EQ(Read("1 2 3\n9 x 4\n5mm 6 7"), (Rows{ { 1, 2, 3 }, { 9, 2, 3 }, { 5, 2, 3 } }));
  // Tabs and CR are blanks; a CR LF row of two numbers keeps z.
  EXPECT_EQ(Read("1\t2\t3\n4 5\r\n"), (Rows{ { 1, 2, 3 }, { 4, 5, 3 }, { 4, 5, 3 } }));
}

TEST(CurveFile, OnlyTheFirstThreeNumbersOfARowCount)
{
  EXPECT_EQ(Read("1 2 3 4 5 6\n7 8 9 0.0 0.0 1.0 42\n-1 -2 -3 NoName 1 17"),
    (Rows{ { 1, 2, 3 }, { 7, 8, 9 }, { -1, -2, -3 } }));
}

TEST(CurveFile, NumbersAreReadInSinglePrecision)
{
  EXPECT_EQ(Read("0.1 -2.5e+06 16777217\n+.5 1e-7 3.4028235e38"),
    (Rows{ { 0.1f, -2.5e6f, 16777216.0f }, { 0.5f, 1e-7f, 3.4028235e38f } }));
}

TEST(CurveFile, LongLinesAreOneRowEach)
{
  const std::string pad(600, ' ');
  // An overlong line is one row: its rest is skipped, the next line is read.
  EXPECT_EQ(Read("1 2 3" + pad + "9 9 9\n4 5 6\n"), (Rows{ { 1, 2, 3 }, { 4, 5, 6 }, { 4, 5, 6 } }));
  EXPECT_EQ(Read("1 2 3" + pad + "9 9 9\n4 5 6"), (Rows{ { 1, 2, 3 }, { 4, 5, 6 } }));
  EXPECT_EQ(Read("1 2 3" + pad + "9 9 9\n"), (Rows{ { 1, 2, 3 }, { 1, 2, 3 } }));
  // One that ends the file ends the reading.
  EXPECT_EQ(Read("4 5 6\n1 2 3" + pad), (Rows{ { 4, 5, 6 }, { 1, 2, 3 } }));
  EXPECT_EQ(Read("4 5 6\n1 2 3" + pad + "\n\n\n" + pad),
    (Rows{ { 4, 5, 6 }, { 1, 2, 3 }, { 1, 2, 3 }, { 1, 2, 3 }, { 1, 2, 3 } }));
  // Only the first 511 characters of a line are parsed: a number cut there
  // counts as far as it goes.
  EXPECT_EQ(Read(std::string(509, ' ') + "12 5 6\n"), (Rows{ { 12, 0, 0 }, { 12, 0, 0 } }));
  // Lines of exactly 511 characters are ordinary lines.
  const std::string full = "1 2 3" + std::string(506, ' ');
  EXPECT_EQ(Read(full + "\n" + full + "\n7 8 9"), (Rows{ { 1, 2, 3 }, { 1, 2, 3 }, { 7, 8, 9 } }));
  EXPECT_EQ(Read("7 8 9\n" + full), (Rows{ { 7, 8, 9 }, { 1, 2, 3 } }));
  EXPECT_EQ(Read("7 8 9\n" + full + "\n"), (Rows{ { 7, 8, 9 }, { 1, 2, 3 }, { 1, 2, 3 } }));
}

TEST(CurveFile, ANullCharacterEndsTheParseOfItsLine)
{
  EXPECT_EQ(Read("1 2 3\n4" + std::string(1, '\0') + " 5 6\n7 8 9"), (Rows{ { 1, 2, 3 }, { 4, 2, 3 }, { 7, 8, 9 } }));
}

namespace
{
// The message for a curve file that cannot be read, or "read" when it is.
std::string OpenFailure(const std::string& curve, bool nameFile)
{
  vtkSmartPointer<vtkPoints> points;
  return ReadCurveFile(curve.c_str(), points) ? "read" : CurveFileError(curve.c_str(), nameFile);
}
}

TEST(CurveFile, FileThatCannotBeOpenedIsNamedInTheMessage)
{
  EXPECT_EQ(OpenFailure("/nonexistent/a curve.crv", true), "Error opening file /nonexistent/a curve.crv\n");
  EXPECT_EQ(OpenFailure("/nonexistent/a curve.crv", false), "Error opening file");
  // A folder opens but cannot be read: the same message.
  EXPECT_EQ(OpenFailure(ScratchDir(), false), "Error opening file");
}

TEST(CurveFile, RowsAreWrittenInSinglePrecisionWithSixDigits)
{
  const double point[3] = { 0.1, -2.5e6, 1234.5678 };
  char text[3 * kNumberTextSize];
  EXPECT_EQ(std::string(text, FormatCurvePoint(point, text)), "0.1 -2.5e+06 1234.57");
  // Rounded to single precision before the six digits are taken: the double
  // 1.0000049999 reads 1, its float 1.00001.
  const double rounded[3] = { 1.0000049999, 16777217.0, 7.25e-6 };
  EXPECT_EQ(std::string(text, FormatCurvePoint(rounded, text)), "1.00001 1.67772e+07 7.25e-06");
  EXPECT_EQ(std::string(text, FormatInteger(-1, text)), "-1");
  EXPECT_EQ(std::string(text, FormatInteger(190675, text)), "190675");
  EXPECT_EQ(std::string(text, FormatInteger(-9223372036854775807LL - 1, text)), "-9223372036854775808");
}

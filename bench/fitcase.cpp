// fitcase: synthetic cases for the template fit, and their scores.
//
//   fitcase make TEMPLATE DIR SEED TRIANGLES   writes a case into DIR (see WriteFitCase)
//   fitcase score DIR FITTED LOG               prints the errors of FITTED, whose fittemplate
//                                              output (with its rigid transform) is in LOG
#include "rawscan.h"
#include "surface.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

int main(int argc, char* argv[])
{
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "make" && argc == 6)
  {
    vtkPolyData* templ = ReadSurface(argv[2]);
    if (!templ)
    {
      return 1;
    }
    return WriteFitCase(templ, argv[3], std::strtoull(argv[4], nullptr, 10), std::atoi(argv[5])) ? 0 : 1;
  }
  if (command == "score" && argc == 5)
  {
    vtkPolyData* fitted = ReadSurface(argv[3]);
    std::ifstream in(argv[4]);
    std::stringstream log;
    log << in.rdbuf();
    RigidTransform transform;
    if (!fitted || !ParseTransform(log.str(), transform))
    {
      std::cout << "No fit to score\n";
      return 1;
    }
    const FitErrors errors = ScoreFit(argv[2], fitted, transform);
    std::cout << "where the scan has surface (" << 100.0 * errors.covered << "% of the template points):\n"
              << "  distance to the true place: mean " << errors.mean << " mm, p95 " << errors.p95
              << " mm, largest " << errors.largest << " mm\n"
              << "  the same in the scanner's frame: mean " << errors.scanMean << " mm, p95 " << errors.scanP95
              << " mm\n"
              << "  the same after the best rigid motion of the fitted points: mean " << errors.shapeMean
              << " mm, p95 " << errors.shapeP95 << " mm\n"
              << "  distance to the scan: mean " << errors.onScan << " mm\n";
    return 0;
  }
  std::cout << "Usage: fitcase make TEMPLATE DIR SEED TRIANGLES\n"
               "       fitcase score DIR FITTED LOG\n";
  return 1;
}

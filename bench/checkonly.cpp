// Runs the legacy-file check that precedes every surface read on each file
// named on the command line, and does nothing else: its time is set against
// VTK's own read of the same files (readonly).
#include "surftools/legacycheck.h"

#include <iostream>

int main(int argc, char* argv[])
{
  int problems = 0;
  for (int i = 1; i < argc; ++i)
  {
    problems += LegacySectionProblem(argv[i]) != nullptr;
  }
  std::cout << problems << '\n';
  return 0;
}

// The real heads (sample/realheads.h) as the tests load them, from the files
// that scripts/setup.sh fetches into REALHEADS_DIR; without the files a test
// that loads one fails and says how to get them.
#pragma once

#include "realheads.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

// Loads a head at its own size; fails the running test, saying how to get
// the files, when it cannot.
inline bool LoadRealHeadForTest(RealHead which, PosedHead& head)
{
  std::string problem = "no such folder";
  if (!std::filesystem::is_directory(REALHEADS_DIR) || !LoadRealHead(which, REALHEADS_DIR, head, problem))
  {
    ADD_FAILURE() << "the real head meshes cannot be read from " << REALHEADS_DIR << " (" << problem
                  << "): run scripts/setup.sh, which fetches them";
    return false;
  }
  return true;
}

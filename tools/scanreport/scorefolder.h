// A subject's score against a reference group as shapestats score writes it
// into a folder: score.tsv (the header "file	distance	percentile" and one
// row) and zscore.clr (one z-score per cell). Reads the folder and checks it
// against the scans' cell count; prints nothing.
#pragma once

#include <string>

// The figures of score.tsv as written there, and the folder as the user
// named it.
struct SubjectScore
{
  std::string folder;
  std::string file;      // the scored surface as shapestats was given it
  double distance = 0;   // Mahalanobis distance; may be infinite
  double percentile = 0; // 0 to 100
};

// Reads `folder`/score.tsv into `score` and checks that `folder`/zscore.clr
// holds a number for each of the `cells` cells. Returns an empty text, or
// what is wrong, to follow "the score folder FOLDER" in a message
// ("has no score.tsv", "zscore.clr has 12 value lines, not 1800", ...).
std::string ReadScoreFolder(const std::string& folder, long long cells, SubjectScore& score);

// shapestats: statistics of a cohort whose surfaces all lie on one template
// mesh, so that a cell means the same place on every head: where heads
// changed between two visits (change), how heads vary (modes), and how one
// head stands against a reference group (score).

#include "commands.h"

#include "surftools/process.h"

#include <cstring>
#include <iostream>

int main(int argc, char* argv[])
{
  QuietVtk();
  UseOneThread();
  UseLargeHeap();
  const char* command = argc > 1 ? argv[1] : "";
  if (std::strcmp(command, "change") == 0 && (argc == 5 || argc == 6))
  {
    return RunChange(argv[2], argv[3], argv[4], argc == 6 ? argv[5] : nullptr);
  }
  if (std::strcmp(command, "modes") == 0 && (argc == 4 || argc == 5))
  {
    return RunModes(argv[2], argv[3], argc == 5 ? argv[4] : nullptr);
  }
  if (std::strcmp(command, "score") == 0 && argc == 5)
  {
    return RunScore(argv[2], argv[3], argv[4]);
  }
  std::cout << "Usage: shapestats change first_list.txt latest_list.txt outdir [size]\n"
               "       shapestats modes list.txt outdir [modes]\n"
               "       shapestats score reference_list.txt surface.vtk outdir\n"
               "Inputs: list files of surfaces on one template mesh and in one frame, one name a line;\n"
               "        change's two lists name the same subjects in the same order\n"
               "change: per cell, the paired t-test of the change along the first visit's cell normal, with\n"
               "        false-discovery-rate q-values: change_mean, change_t, change_q, change_significant (.clr)\n"
               "        and summary.tsv; with size, each latest surface first brought to its first visit's size\n"
               "        and place (the change beyond growth), each subject's growth factor in growth.tsv\n"
               "modes:  principal components of the points (5 unless given): modes.tsv, scores.tsv, mean.vtk,\n"
               "        mode<k>_plus2sd.vtk, mode<k>_minus2sd.vtk and mode<k>.clr\n"
               "score:  per-cell z-scores of one head against the group (zscore.clr) and its Mahalanobis\n"
               "        distance in the modes that explain 95% of the variance, with its percentile (score.tsv)\n";
  return -1;
}

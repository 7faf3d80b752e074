// Runs of the cohort workflow for its tests: the tools installed into a
// prefix, snakemake on a cohort, the files a run left and when it wrote them.
#pragma once

#include "testutil.h"

#include <map>

namespace workflowrun
{
namespace fs = std::filesystem;

// The tools installed with cmake --install into DIR/prefix; false where that failed.
inline bool InstallTools(const std::string& dir)
{
  return testutil::RunShell("cmake --install " + testutil::Quote(BUILD_DIR) + " --prefix " +
           testutil::Quote(dir + "/prefix") + " >/dev/null")
           .status == 0;
}

// Runs the workflow on DIR/cohort into DIR/OUT with the installed tools; a
// prefix (such as "timeout 300") goes before snakemake.
inline testutil::ToolRun Snakemake(
  const std::string& dir, const std::string& out, const std::string& extra = "", const std::string& prefix = "")
{
  return testutil::RunShell("(cd " + testutil::Quote(dir) + " && " + prefix + " snakemake --snakefile " +
    testutil::Quote(std::string(SOURCE_DIR) + "/workflow/Snakefile") + " --cores 2 --directory " +
    testutil::Quote(out) + " --config cohort=cohort bin=prefix/bin " + extra + " 2>&1)");
}

// The modification time of every file of a folder (the workflow's own
// bookkeeping in .snakemake aside), by path within it.
inline std::map<std::string, fs::file_time_type> Times(const std::string& folder)
{
  std::map<std::string, fs::file_time_type> times;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
  {
    const std::string path = fs::relative(entry.path(), folder).string();
    if (entry.is_regular_file() && path.rfind(".snakemake", 0) != 0)
    {
      times[path] = entry.last_write_time();
    }
  }
  return times;
}

// A report without the date it was made.
inline std::string Undated(std::string page)
{
  const size_t at = page.find("Made on ");
  return at == std::string::npos ? page : page.erase(at, 18);
}
}

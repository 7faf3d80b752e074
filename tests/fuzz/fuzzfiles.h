// Scratch files of a fuzzing process: the readers under test take file
// names, so each input is written to a file first. One folder per process,
// removed at exit; files are overwritten from one input to the next.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzzfiles
{
inline const std::string& Folder()
{
  // Kept to the very end: the folder is removed by an exit handler.
  static const std::string* folder = [] {
    auto* name = new std::string((std::filesystem::temp_directory_path() / "surftools-fuzz-XXXXXX").string());
    if (!mkdtemp(name->data()))
    {
      std::perror("mkdtemp");
      std::abort();
    }
    std::atexit([] { std::filesystem::remove_all(Folder()); });
    return name;
  }();
  return *folder;
}

// Writes `size` bytes to the file `name` in the folder; returns its path.
inline std::string Write(const char* name, const void* data, size_t size)
{
  const std::string path = Folder() + "/" + name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file || (size > 0 && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0)
  {
    std::perror(path.c_str());
    std::abort();
  }
  return path;
}
}

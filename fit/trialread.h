// A trial run of a file reader in a child process, for readers that may
// crash on a hostile file: VTK's readers trust a file in more ways than the
// checks before them foresee (a PLY face list under another name makes VTK's
// PLY reader read past its data, say). A reader that crashes or runs out of
// memory in the child then refuses the file instead of ending the tool.
//
// Input: the reading, as a function that returns whether it read the file.
// Output: how the trial ended. Standard output is flushed first; nothing may
// run beside the caller (fork copies only its thread).
#pragma once

#include <functional>

// Read: `read` returned true (or no child could be made); Failed: it
// returned false; Crashed: the child ended any other way.
enum class Trial
{
  Read,
  Failed,
  Crashed
};

// Runs `read` in a child process and tells how it ended.
Trial TrialRead(const std::function<bool()>& read);

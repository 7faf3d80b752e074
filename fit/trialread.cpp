#include "fit/trialread.h"

#include <cerrno>
#include <cstdio>
#include <iostream>

#include <sys/wait.h>
#include <unistd.h>

Trial TrialRead(const std::function<bool()>& read)
{
  std::cout.flush();
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0)
  {
    return Trial::Read;
  }
  // Exit statuses of their own, which nothing else ends the child with: a
  // crash caught by a handler (a sanitizer's exits with 1) is no failure.
  const int kRead = 117;
  const int kFailed = 118;
  if (child == 0)
  {
    // _exit: none of the parent's exit handlers or buffers run twice. An
    // exception (out of memory, say) ends the child as a crash would.
    int code = 2;
    try
    {
      code = read() ? kRead : kFailed;
    }
    catch (...)
    {
    }
    _exit(code);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0)
  {
    if (errno != EINTR)
    {
      return Trial::Crashed;
    }
  }
  if (WIFEXITED(status) && (WEXITSTATUS(status) == kRead || WEXITSTATUS(status) == kFailed))
  {
    return WEXITSTATUS(status) == kRead ? Trial::Read : Trial::Failed;
  }
  return Trial::Crashed;
}

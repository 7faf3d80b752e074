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
  if (child == 0)
  {
    // _exit: none of the parent's exit handlers or buffers run twice. An
    // exception (out of memory, say) ends the child as a crash would.
    int code = 2;
    try
    {
      code = read() ? 0 : 1;
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
  if (WIFEXITED(status) && WEXITSTATUS(status) <= 1)
  {
    return WEXITSTATUS(status) == 0 ? Trial::Read : Trial::Failed;
  }
  return Trial::Crashed;
}

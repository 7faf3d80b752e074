// Default settings of the sanitizers, linked into every program of the
// sanitizer build (SURFTOOLS_SANITIZE). Settings in ASAN_OPTIONS and
// UBSAN_OPTIONS still take precedence.

extern "C"
{
  // No leak check at exit: the tools keep every VTK object they make until the
  // process ends, by design (the system frees it all at once, faster than
  // deleting object by object), so every run would report them.
  const char* __asan_default_options()
  {
    return "detect_leaks=0";
  }

  // Every report with the stack that led to it.
  const char* __ubsan_default_options()
  {
    return "print_stacktrace=1";
  }
}

// A small random generator for the benchmark's inputs, whose numbers do not
// depend on the standard library (splitmix64).
#pragma once

#include <cstdint>

struct Random
{
  uint64_t state;
  uint64_t Next()
  {
    state += 0x9E3779B97F4A7C15ull;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double Uniform(double low, double high) { return low + (high - low) * ((Next() >> 11) * 0x1.0p-53); }
};

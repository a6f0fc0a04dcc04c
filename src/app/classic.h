// The classic program: the French console dialogue and the run order.
#pragma once

#include <cstdio>
#include <string>

#include "console/cues.h"

namespace tesk {

struct ClassicOptions {
  std::string data_root = "images";  // where the data-set directories lie
  bool literal = false;              // compute with the literal reference stages
  int threads = 1;                   // worker threads of the computation
};

// Runs the whole classic program on the given console.  Returns the exit
// status: 0 after a complete run, 1 when the run stopped on an error (its
// one-line message printed on `out`).
int run_classic(std::FILE* in, std::FILE* out, CuePlayer& cues, const ClassicOptions& options);

}  // namespace tesk

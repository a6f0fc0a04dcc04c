// How many threads the computation uses.
#pragma once

namespace tesk {

// requested > 0 wins; otherwise the environment variable TESK_THREADS when
// it holds a positive whole number; otherwise every core of the machine.
// Never less than 1.
int resolve_threads(int requested);

}  // namespace tesk

// tesk: contour lines to a digital elevation model.
//
// Without arguments, the classic French console dialogue; with arguments,
// the batch command line (when built with GDAL).
#include <cstdio>
#include <cstdlib>

#include "app/classic.h"
#include "console/cues.h"
#include "core/memory.h"
#include "core/threads.h"
#include "io/paths.h"
#ifdef TESK_WITH_GDAL
#include "app/batch.h"
#endif

int main(int argc, char** argv) {
  tesk::keep_large_blocks_apart();
  if (argc > 1) {
#ifdef TESK_WITH_GDAL
    return tesk::run_batch(argc, argv);
#else
    std::fprintf(stderr, "%s: built without GDAL, so without the command line; start it without arguments for "
                         "the console dialogue\n", argv[0]);
    return 1;
#endif
  }
  tesk::SystemCues cues = tesk::SystemCues::from_environment();
  tesk::ClassicOptions options;
  options.data_root = tesk::data_root(std::getenv("TESK_IMAGES"));
  options.threads = tesk::resolve_threads(0);
  return tesk::run_classic(stdin, stdout, cues, options);
}

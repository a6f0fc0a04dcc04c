// tesk: contour lines to a digital elevation model.
//
// Without arguments, the classic French console dialogue.
#include <cstdio>
#include <cstdlib>

#include "app/classic.h"
#include "console/cues.h"
#include "core/threads.h"
#include "io/paths.h"

int main(int argc, char** argv) {
  if (argc > 1) {
    std::fprintf(stderr, "%s: takes no arguments; start it without any for the console dialogue\n", argv[0]);
    return 2;
  }
  tesk::SystemCues cues = tesk::SystemCues::from_environment();
  tesk::ClassicOptions options;
  options.data_root = tesk::data_root(std::getenv("TESK_IMAGES"));
  options.threads = tesk::resolve_threads(0);
  return tesk::run_classic(stdin, stdout, cues, options);
}

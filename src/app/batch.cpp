#include "app/batch.h"

#include <cstdio>
#include <algorithm>
#include <cstring>

#include <gdal.h>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/batch_options.h"
#include "app/stop_signals.h"
#include "core/memory.h"
#include "core/mention.h"
#include "core/run_error.h"
#include "io/gdal_progress.h"
#include "run/file_run.h"
#include "stages/progress.h"

namespace tesk {

int run_batch(int argc, char** argv) {
  Options o;
  if (auto status = parse_options(argc, argv, o)) return *status;
  catch_stop_signals();
  o.command = command_line(argc, argv);
  // GDAL's block cache follows the physical memory and ignores the
  // process's limits: keep it within what the run may use (which counts it).
  GDALAllRegister();
  if (const auto avail = available_memory())
    GDALSetCacheMax64(std::min<GIntBig>(GDALGetCacheMax64(), static_cast<GIntBig>(*avail / 8)));
  gdal::TermProgress progress(o.quiet ? nullptr : stderr);
  RunHooks hooks;
  hooks.cancel = [] { return stop_signal() != 0; };
  hooks.progress = [&progress](double f) { progress.report(f); };
  hooks.warn = [&progress](const std::string& text) { progress.warn(render(text)); };
  if (!o.quiet) hooks.note = [&progress](const std::string& text) { progress.note(render(text)); };
  std::string failure;
  // Every failure ends here, the temporary files gone with the unwinding:
  // one line, and the exit status.
  try {
    const FileRunResult r = run_file(o, hooks);
    for (const auto& n : r.notes) std::fprintf(stderr, "Warning: %s\n", render(n).c_str());
    if (const int s = stop_signal()) {  // taken while the outputs were moved in, which it never cuts short
      std::fprintf(stderr, "tesk: signal %d (%s) arrived once every output was written\n", s, strsignal(s));
      return 128 + s;
    }
    return 0;
  } catch (const RunError& e) {
    failure = e.what();
  } catch (const Cancelled&) {
    failure = "cancelled";
  } catch (const std::bad_alloc&) {
    failure = "not enough memory to turn " + o.src + " into " + o.dst;
  } catch (const std::filesystem::filesystem_error& e) {
    failure = e.what();
  } catch (const std::system_error& e) {  // from the start of a thread
    failure = "--threads " + std::to_string(o.threads) + ": cannot start the threads (" + e.what() + ")";
  } catch (const std::exception& e) {
    failure = std::string("unexpected failure: ") + e.what();
  } catch (...) {
    failure = "unexpected failure";
  }
  const char* line = progress.open() ? "\n" : "";
  if (const int s = stop_signal()) {
    std::fprintf(stderr, "%stesk: stopped by signal %d (%s): no output written, existing files left as they were\n",
                 line, s, strsignal(s));
    return 128 + s;
  }
  std::fprintf(stderr, "%stesk: %s\n", line, failure.c_str());
  return 1;
}

}  // namespace tesk

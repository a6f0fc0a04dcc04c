#include "app/classic.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "console/dialogue.h"
#include "console/ouverture.h"
#include "core/memory.h"
#include "core/run_error.h"
#include "core/threads.h"
#include "core/units.h"
#include "io/raster.h"
#include "stages/pipeline.h"
#include "stages/smoothing.h"

namespace tesk {
namespace {

// The classic console's view of the computation: French progress lines and
// sound cues.
class ClassicObserver : public RunObserver {
 public:
  explicit ClassicObserver(Dialogue& d) : d_(d) {}

  void pass_starting(const PassReport& r) override {
    if (r.degree > 1) d_.say("\n nombre de points modifies  = %lld", static_cast<long long>(r.previous_modified));
    d_.say("\n nombre de points a traiter = %lld ", static_cast<long long>(r.to_treat));
    d_.say("\n\n Brakvelt degre  %d \n", r.degree);
    d_.cue(cue::kMenuLoop);
  }
  void smoothing_stage() override { d_.say("\n"); }
  void smoothing_skipped(int maille) override {
    d_.say("\n Image trop petite pour la maille %d (%d x %d pixels au moins) : lissage non effectue\n", maille,
           maille + 1, maille + 1);
  }
  void smoothing_starting(int maille) override {
    d_.say("\n\n Lissage Maille %d \n", maille);
    d_.cue(cue::kMenuEnd);
  }
  void smoothing_row(int i) override {
    if ((i + 1) % 100 == 0) d_.say("\tligne %d                    \r    ", i + 1);
  }
  void saving_starting() override {
    d_.say("\n\n Sauvegarde en cours\n");
    d_.cue(cue::kFanfare2);
  }
  void minmax_row(int i) override {
    if ((i + 1) % 200 == 0) d_.say(" ligne %d\n", i + 1);
  }
  void minmax_found(int min_al, int max_al) override { d_.say("\n Min=%d  Max=%d", min_al, max_al); }

 private:
  Dialogue& d_;
};

void allocate(RunGrids& g, int nb_lig, int nb_col, bool literal, bool map_early) {
  const MemoryCheck m = check_memory(nb_lig, nb_col, RunGrids::bytes_per_pixel(literal));
  if (!m.fits) {
    char text[200];
    std::snprintf(text, sizeof text, "\n Memoire insuffisante : l'image demande %llu Mo, %llu Mo disponibles\n",
                  m.need_mib, m.avail_mib);
    throw RunError(text);
  }
  try {
    g.allocate(nb_lig, nb_col, literal, map_early);
  } catch (const std::bad_alloc&) {
    throw RunError("\n Memoire insuffisante pour les matrices de l'image\n");
  }
}

std::string with_path(const char* what, const std::string& path) {
  std::string text = std::string("\n ") + what + " du fichier " + path;
  if (errno != 0) text += std::string(" : ") + std::strerror(errno);
  return text + "\n";
}

void read_raster(FileSet& fs, IntGrid& itab) {
  errno = 0;
  if (!lecture(fs.f1.get(), fs.itype, itab)) throw RunError(with_path("Erreur de lecture", fs.input.nomim1));
}

// Closes an output file, reporting any write error that surfaces there.
void close_output(FilePtr& f, const std::string& path) {
  errno = 0;
  std::FILE* raw = f.release();
  const bool bad = std::ferror(raw) != 0;
  if (std::fclose(raw) != 0 || bad) throw RunError(with_path("Erreur d'ecriture", path));
}

int ask_equid(Dialogue& d) {
  for (;;) {
    d.cue(cue::kMenuEnd);
    d.say("\n\n Equidistance des courbes de niveau ? ");
    const int equid = d.ask_int();
    if (equid != 0) return equid;
    d.say("\n L'equidistance doit etre differente de 0\n");
  }
}

int ask_maille(Dialogue& d) {
  for (;;) {
    d.cue(cue::kMovPiece);
    d.say("\n\n Taille de la maille de lissage (1, 3 ou 5) ? ");
    const int maille = d.ask_int();
    if (maille <= kMaxMaille) return maille;
    d.say("\n Maille trop grande : %d au plus\n", kMaxMaille);
  }
}

int ask_sur(Dialogue& d) {
  d.cue(cue::kMovPiece);
  d.say("\n Surcharge des courbes de niveaux :");
  d.say("\n 0 -----> Oui;\t1 -----> Non      ");
  return d.ask_int();
}

// Reading, then the computation: conversion, dilation, gap filling, copy,
// smoothing, overlay (reading the input again), conversion back,
// quantisation.
void compute_classic(Dialogue& d, FileSet& fs, RunGrids& g, const RunParams& p) {
  read_raster(fs, g.itab);
  ClassicObserver observer(d);
  try {
    compute_dem(
        g, p,
        [&](IntGrid& itab) {
          std::rewind(fs.f1.get());
          read_raster(fs, itab);
        },
        observer);
  } catch (const ConversionError& e) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "\n Valeur %d (ligne %d, colonne %d) trop grande pour l'equidistance %d : conversion impossible\n",
                  e.fault.value, e.fault.row, e.fault.col, p.equid);
    throw RunError(text);
  }
}

// The two rasters, then every output closed (a write error surfaces there).
void write_classic(FileSet& fs, RunGrids& g, const RunParams& p) {
  errno = 0;
  std::FILE* failed = nullptr;
  if (!ecriture(fs.f2.get(), fs.f3.get(), fs.itype, g.tab, g.itab1, &failed, resolve_threads(p.threads)))
    throw RunError(with_path("Erreur d'ecriture", failed == fs.f2.get() ? fs.output.nomim2 : fs.output.nomim3));
  close_output(fs.f2, fs.output.nomim2);
  close_output(fs.f3, fs.output.nomim3);
  close_output(fs.f2d, fs.output.nomdescr2);
  close_output(fs.f3d, fs.output.nomdescr3);
}

}  // namespace

int run_classic(std::FILE* in, std::FILE* out, CuePlayer& cues, const ClassicOptions& options) {
  Dialogue d(in, out, cues);
  RunGrids g;
  RunParams p;
  p.literal = options.literal;
  p.threads = options.threads;
  try {
    // Banner, file set, header, output files, grids.
    FileSet fs = ouverture(d, options.data_root,
                           [&](int nb_lig, int nb_col, int) {
                             // Early mapping takes a thread: only when the run may use more than one.
                             allocate(g, nb_lig, nb_col, p.literal, resolve_threads(p.threads) > 1);
                           });
    p.ival = ival_for(fs.itype);

    // The three questions.
    p.equid = ask_equid(d);
    p.maille = ask_maille(d);
    p.overlay = ask_sur(d) == 0;
    d.cue(cue::kMovPiece);
    d.say("\n Lecture \n");

    compute_classic(d, fs, g, p);

    write_classic(fs, g, p);

    // End.
    d.say("\n");
    // A console that could not take the transcript (a full disk, a closed
    // standard output) fails the run, as coreutils do: a script must not
    // take a lost transcript for success.
    errno = 0;
    if (std::fflush(out) != 0 || std::ferror(out)) {
      std::fprintf(stderr, "tesk: erreur d'ecriture de la console : %s\n",
                   std::strerror(errno != 0 ? errno : EIO));
      return 1;
    }
    return 0;
  } catch (const RunError& e) {
    d.say_text(e.what());
    std::fflush(out);
    if (e.wait_key()) d.wait_key();
    return 1;
  } catch (const std::bad_alloc&) {
    d.say("\n Memoire insuffisante\n");
    std::fflush(out);
    return 1;
  }
}

}  // namespace tesk

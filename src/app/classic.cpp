#include "app/classic.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "console/dialogue.h"
#include "console/ouverture.h"
#include "core/grid.h"
#include "core/memory.h"
#include "core/run_error.h"
#include "core/units.h"
#include "io/raster.h"
#include "stages/conversion.h"
#include "stages/dilation.h"
#include "stages/gap_filling.h"
#include "stages/quantisation.h"
#include "stages/smoothing.h"

namespace tesk {
namespace {

// The grids of a run: the 8-bit preview, the working surface, the result
// and the dilation's second scratch grid.
struct Grids {
  ByteGrid tab;
  IntGrid itab, itab1, itab2;
};

constexpr std::uint64_t kBytesPerPixel = 1 + 3 * 4;

void allocate(Grids& g, int nb_lig, int nb_col) {
  const auto need = grid_bytes(nb_lig, nb_col, kBytesPerPixel);
  const auto avail = available_memory();
  if (!need || (avail && *need > *avail)) {
    char text[200];
    const unsigned long long mib = need ? *need >> 20 : ~0ULL >> 20;
    std::snprintf(text, sizeof text, "\n Memoire insuffisante : l'image demande %llu Mo, %llu Mo disponibles\n", mib,
                  static_cast<unsigned long long>(avail.value_or(0) >> 20));
    throw RunError(text);
  }
  try {
    g.tab = ByteGrid(nb_lig, nb_col);
    g.itab = IntGrid(nb_lig, nb_col);
    g.itab1 = IntGrid(nb_lig, nb_col);
    g.itab2 = IntGrid(nb_lig, nb_col);
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

[[noreturn]] void conversion_refused(const ConversionFault& f, int equid) {
  char text[200];
  std::snprintf(text, sizeof text,
                "\n Valeur %d (ligne %d, colonne %d) trop grande pour l'equidistance %d : conversion impossible\n",
                f.value, f.row, f.col, equid);
  throw RunError(text);
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

}  // namespace

int run_classic(std::FILE* in, std::FILE* out, CuePlayer& cues, const ClassicOptions& options) {
  Dialogue d(in, out, cues);
  Grids g;
  try {
    // 1. Banner, file set, header, output files, grids.
    FileSet fs = ouverture(d, options.data_root, [&](int nb_lig, int nb_col, int) { allocate(g, nb_lig, nb_col); });
    const int ival = ival_for(fs.itype);

    // 2. The three questions.
    const int equid = ask_equid(d);
    const int maille = ask_maille(d);
    const int sur = ask_sur(d);
    d.cue(cue::kMovPiece);
    d.say("\n Lecture \n");

    // 3. Reading.
    read_raster(fs, g.itab);

    // 4. Into internal units.
    if (auto fault = convert_to_internal(g.itab, ival, equid)) conversion_refused(*fault, equid);

    // 5. Dilation passes until one writes nothing.
    dilate_literal(g.itab, g.itab1, g.itab2, [&](const PassReport& r) {
      if (r.degree > 1) d.say("\n nombre de points modifies  = %lld", static_cast<long long>(r.previous_modified));
      d.say("\n nombre de points a traiter = %lld ", static_cast<long long>(r.to_treat));
      d.say("\n\n Brakvelt degre  %d \n", r.degree);
      d.cue(cue::kMenuLoop);
    });

    // 6. Residual gap filling.
    fill_gaps_literal(g.itab);

    // 7. Result copy.
    copy_grid(g.itab, g.itab1);

    // 8. Smoothing.
    d.say("\n");
    if (maille > 1) {
      if (!window_fits(g.itab.rows(), g.itab.cols(), maille)) {
        d.say("\n Image trop petite pour la maille %d (%d x %d pixels au moins) : lissage non effectue\n", maille,
              maille + 1, maille + 1);
      } else {
        d.say("\n\n Lissage Maille %d \n", maille);
        d.cue(cue::kMenuEnd);
        smooth_literal(g.itab, g.itab1, maille, [&](int i) {
          if ((i + 1) % 100 == 0) d.say("\tligne %d                    \r    ", i + 1);
        });
      }
    }

    // 9. Contour overlay.
    if (sur == 0) {
      std::rewind(fs.f1.get());
      read_raster(fs, g.itab);
      if (auto fault = overlay_contours(g.itab, g.itab1, ival, equid)) conversion_refused(*fault, equid);
    }

    // 10. Back into altitude units.
    convert_to_altitude(g.itab1, ival, equid);

    // 11. Byte quantisation.
    d.say("\n\n Sauvegarde en cours\n");
    d.cue(cue::kFanfare2);
    int min_al = g.itab1[0][0];
    int max_al = g.itab1[0][0];
    Min_max(&min_al, &max_al, g.itab1, [&](int i) {
      if ((i + 1) % 200 == 0) d.say(" ligne %d\n", i + 1);
    });
    d.say("\n Min=%d  Max=%d", min_al, max_al);
    quantise(g.itab1, g.tab, min_al, max_al);

    // 12. Writing.
    errno = 0;
    std::FILE* failed = nullptr;
    if (!ecriture(fs.f2.get(), fs.f3.get(), fs.itype, g.tab, g.itab1, &failed))
      throw RunError(with_path("Erreur d'ecriture", failed == fs.f2.get() ? fs.output.nomim2 : fs.output.nomim3));
    close_output(fs.f2, fs.output.nomim2);
    close_output(fs.f3, fs.output.nomim3);
    close_output(fs.f2d, fs.output.nomdescr2);
    close_output(fs.f3d, fs.output.nomdescr3);

    // 13. End.
    d.say("\n");
    std::fflush(out);
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

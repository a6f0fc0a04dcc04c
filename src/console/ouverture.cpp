#include "console/ouverture.h"

#include <sys/stat.h>

#include <cstring>

#include "core/run_error.h"
#include "io/raster.h"
#include "io/staged_output.h"

namespace tesk {
namespace {

// An interior line of the banner's frame: 60 characters between asterisks.
std::string framed(const char* text) {
  std::string inner(60, ' ');
  const std::size_t len = std::strlen(text);
  const std::size_t start = len < 60 ? (60 - len) / 2 : 0;
  inner.replace(start, len < 60 ? len : 60, text, len < 60 ? len : 60);
  return "\n\t*" + inner + "*";
}

bool is_directory(std::FILE* f) {
  struct stat st {};
  return fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode);
}

// Opens path for reading; a directory counts as a file that cannot be
// opened.
FilePtr open_for_reading(const std::string& path, const char* mode) {
  FilePtr f(std::fopen(path.c_str(), mode));
  if (f && is_directory(f.get())) f.reset();
  return f;
}

std::string message(const char* format, const std::string& path) {
  const std::size_t size = std::strlen(format) + path.size() + 1;
  std::string text(size, '\0');
  const int n = std::snprintf(text.data(), size, format, path.c_str());
  text.resize(static_cast<std::size_t>(n));
  return text;
}

void check_raster_length(std::FILE* f1, const std::string& path, const Header& h, int itype) {
  struct stat st {};
  if (fstat(fileno(f1), &st) != 0 || !S_ISREG(st.st_mode)) return;  // pipes and devices are read as they come
  const unsigned long long need = static_cast<unsigned long long>(h.nb_lig) * static_cast<unsigned long long>(h.nb_col) *
                                  static_cast<unsigned long long>(sample_bytes(itype));
  if (static_cast<unsigned long long>(st.st_size) < need) {
    char tail[160];
    std::snprintf(tail, sizeof tail, " trop court : %lld octets pour %llu attendus (%d lignes, %d colonnes)\n",
                  static_cast<long long>(st.st_size), need, h.nb_lig, h.nb_col);
    throw RunError("\n Fichier " + path + tail);
  }
}

}  // namespace

std::string banner() {
  const std::string border = "\n\t**************************************************************";
  const std::string blank = framed("");
  std::string text = "\n" + border;
  text += blank;
  text += "\n\t*                         TESK                               *";
  for (int k = 0; k < 4; ++k) text += blank;
  text += framed("Modele numerique de terrain par dilatation des courbes");
  text += framed("Version 1.0 - decembre 2026");
  text += blank + blank;
  text += border;
  text += "\n\n\n\tGeneralisation de l'algorithme de Brakvelt";
  text += "\n\n\tCroissance des courbes de niveau, points milieux et bouchage,";
  text += "\n\tlissage par fenetre de Bernstein (Bezier)";
  return text;
}

namespace {

// The header of the input, or the size asked for when it is missing (and
// then written, so a later run on the same data set finds it).
void header_or_questions(Dialogue& d, FileSet& fs) {
  bool header_read = false;
  if (FilePtr f1d = open_for_reading(fs.input.nomdescr1, "r")) {
    fs.header = read_header(f1d.get());
    header_read = true;
  } else {
    d.say("\n Absence du fichier %s \n\n", fs.input.nomdescr1.c_str());
    d.say("\n\tNombre de lignes   ? ");
    fs.header.nb_lig = d.ask_int();
    d.say("\n\tNombre de colonnes ? ");
    fs.header.nb_col = d.ask_int();
    d.say("\n\tTaille du pixel ? ");
    fs.header.taille_pix = d.ask_int();
    // The created header receives the values just given, so a later run on
    // the same data set finds them; a header that cannot be created is not
    // an error.
    if (FilePtr created{std::fopen(fs.input.nomdescr1.c_str(), "w")}) write_header(created.get(), fs.header);
  }

  const Header& h = fs.header;
  if (h.nb_lig <= 0 || h.nb_col <= 0) {
    // Name the header when the size came from it: that file is what the
    // user has to mend.
    char size[80];
    std::snprintf(size, sizeof size, " : %d lignes et %d colonnes\n", h.nb_lig, h.nb_col);
    throw RunError(std::string("\n Taille d'image invalide") + (header_read ? " dans " + fs.input.nomdescr1 : "") +
                   size);
  }
}

// The base name of the outputs: the input's, or a new one.
std::string output_base(Dialogue& d, const std::string& nomfic) {
  int rep = -1;
  while (rep != 0 && rep != 1) {
    d.say("\n\n 0 -----> Reprise de Nom generique %s ? ", nomfic.c_str());
    d.say("\n 1 -----> Creation d'un nouveau Fichier ? ");
    rep = d.ask_int();
  }
  std::string nomfic1 = nomfic;
  if (rep == 1) {
    d.say("\n\n Nom du fichier a creer (sans extension _m2.raw ou _m4.raw) ? ");
    nomfic1 = d.ask_word();
  }
  return nomfic1;
}

// The four outputs created, in the classic order.
void open_outputs(FileSet& fs) {
  struct Target {
    FilePtr* handle;
    const std::string* path;
    const char* mode;
    const char* failure;
  };
  const Target targets[] = {
      {&fs.f2, &fs.output.nomim2, "wb", "\n Fichier %s inconnu\n"},
      {&fs.f3, &fs.output.nomim3, "wb", "\n Fichier %s inconnu\n"},
      {&fs.f2d, &fs.output.nomdescr2, "w", "\n Fichier %s inconnu\n"},
      {&fs.f3d, &fs.output.nomdescr3, "w", "\n Fichier %s inexistant\n"},
  };
  for (const Target& t : targets) {
    t.handle->reset(std::fopen(t.path->c_str(), t.mode));
    if (!*t.handle) throw RunError(message(t.failure, *t.path), /*wait_key=*/true);
  }

}

}  // namespace

FileSet ouverture(Dialogue& d, const std::string& root, const GridAllocator& allocate) {
  FileSet fs;
  d.say_text(banner());
  d.cue(cue::kDrumbl);

  d.say("\n\n Nom du Repertoire : ");
  const std::string nomdir = d.ask_word();
  const std::string prefix = directory_prefix(root, nomdir);
  d.say("\n\n Nom du fichier a traiter (sans extension _c2.raw or _c4.raw) ? ");
  const std::string nomfic = d.ask_word();
  d.say("\n Image :\n\t0 ====> 16 bits\n\t1 ====> 32 bits\n\t");
  fs.itype = d.ask_int();
  fs.input = input_names(prefix, nomfic, fs.itype);

  fs.f1 = open_for_reading(fs.input.nomim1, "rb");
  if (!fs.f1) throw RunError(message("\n Fichier %s inexistant\n", fs.input.nomim1));

  header_or_questions(d, fs);
  const Header& h = fs.header;
  check_raster_length(fs.f1.get(), fs.input.nomim1, h, fs.itype);
  allocate(h.nb_lig, h.nb_col, fs.itype);

  d.say("\n\n L'IMAGE A:  \n");
  d.say("\n            %d LIGNES\n", h.nb_lig);
  d.say("\n         ET %d COLONNES\n", h.nb_col);

  const std::string nomfic1 = output_base(d, nomfic);
  fs.output = output_names(prefix, nomfic1, fs.itype);

  // Creating an output truncates it: one that is the input under another
  // name (a link) would lose the data before they are read.
  for (const std::string* out : {&fs.output.nomim2, &fs.output.nomim3, &fs.output.nomdescr2, &fs.output.nomdescr3})
    for (const std::string* in : {&fs.input.nomim1, &fs.input.nomdescr1})
      if (same_file(*out, *in))
        throw RunError("\n Le fichier " + *out + " est aussi " + *in + ", a traiter : il ne sera pas remplace\n");

  open_outputs(fs);

  // Both output headers describe the image; errors surface when the files
  // are closed at the end of the run.
  write_header(fs.f3d.get(), h);
  write_header(fs.f2d.get(), h);
  return fs;
}

}  // namespace tesk

// Shared pieces of the end-to-end tests of the classic console program:
// the expected console texts, written out from the dialogue's rules, and a
// runner that starts the real executable on a scratch data root.
//
// Expected transcripts carry cue marks "[cue NAME.wav]" where each sound
// cue is played. A plain run compares the console output with the marks
// removed; a recorded run points the cue player at a script that appends
// the same mark to the log file that also receives the console output, so
// the marks must then appear exactly in their places.
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tesk::e2e {

using testing::ProcessResult;
using testing::TempDir;

inline const std::string kStars = "**************************************************************";
inline const std::string kBlankLine = "\n\t*                                                            *";

// The banner: frame, title, the credit and date lines, heading and the two
// reference lines.
inline std::string banner() {
  std::string s = "\n\n\t" + kStars + kBlankLine;
  s += "\n\t*                         TESK                               *";
  for (int k = 0; k < 4; ++k) s += kBlankLine;
  s += "\n\t*   Modele numerique de terrain par dilatation des courbes   *";
  s += "\n\t*                Version 1.0 - decembre 2026                 *";
  s += kBlankLine + kBlankLine;
  s += "\n\t" + kStars;
  s += "\n\n\n\tGeneralisation de l'algorithme de Brakvelt";
  s += "\n\n\tCroissance des courbes de niveau, points milieux et bouchage,";
  s += "\n\tlissage par fenetre de Bernstein (Bezier)";
  return s;
}

inline std::string cue(const std::string& file) { return "[cue " + file + "]"; }

// Banner, first cue and the three opening questions.
inline std::string opening() {
  return banner() + cue("drumbl.wav") + "\n\n Nom du Repertoire : " +
         "\n\n Nom du fichier a traiter (sans extension _c2.raw or _c4.raw) ? " +
         "\n Image :\n\t0 ====> 16 bits\n\t1 ====> 32 bits\n\t";
}

inline std::string image_size(int rows, int cols) {
  return "\n\n L'IMAGE A:  \n\n            " + std::to_string(rows) + " LIGNES\n\n         ET " + std::to_string(cols) +
         " COLONNES\n";
}

inline std::string reuse_question(const std::string& nomfic) {
  return "\n\n 0 -----> Reprise de Nom generique " + nomfic + " ? \n 1 -----> Creation d'un nouveau Fichier ? ";
}

// The interval, window and overlay questions, each after its cue, then the
// announcement of the reading.
inline std::string questions() {
  return cue("menuend.wav") + "\n\n Equidistance des courbes de niveau ? " + cue("movpiece.wav") +
         "\n\n Taille de la maille de lissage (1, 3 ou 5) ? " + cue("movpiece.wav") +
         "\n Surcharge des courbes de niveaux :\n 0 -----> Oui;\t1 -----> Non      " + cue("movpiece.wav") +
         "\n Lecture \n";
}

// Progress of the dilation: to_treat[k] is the count shown before pass k + 1,
// modified[k] the count that pass k + 1 wrote (shown before the next pass).
inline std::string passes(const std::vector<int>& to_treat, const std::vector<int>& modified) {
  std::string s;
  for (std::size_t k = 0; k < to_treat.size(); ++k) {
    if (k > 0) s += "\n nombre de points modifies  = " + std::to_string(modified.at(k - 1));
    s += "\n nombre de points a traiter = " + std::to_string(to_treat[k]) + " ";
    s += "\n\n Brakvelt degre  " + std::to_string(k + 1) + " \n" + cue("menuloop.wav");
  }
  return s;
}

// The smoothing stage's line break, then (maille > 1) its heading and cue.
inline std::string smoothing(int maille) {
  std::string s = "\n";
  if (maille > 1) s += "\n\n Lissage Maille " + std::to_string(maille) + " \n" + cue("menuend.wav");
  return s;
}

inline std::string saving(int min_al, int max_al) {
  return "\n\n Sauvegarde en cours\n" + cue("Fanfare2.wav") + "\n Min=" + std::to_string(min_al) +
         "  Max=" + std::to_string(max_al);
}

// The transcript with its cue marks removed: what a plain run prints.
inline std::string without_cues(std::string s) {
  for (std::size_t at; (at = s.find("[cue ")) != std::string::npos;) s.erase(at, s.find(']', at) + 1 - at);
  return s;
}

// A data root with one data-set directory, a directory of (empty) cue files
// and a recording player.
class Workspace {
 public:
  explicit Workspace(const std::string& dir = "site") : dir_(dir) {
    std::filesystem::create_directories(root() + "/" + dir_);
    std::filesystem::create_directories(tmp_ / "sounds");
    for (const char* f : {"drumbl.wav", "menuend.wav", "movpiece.wav", "menuloop.wav", "Fanfare2.wav"})
      testing::write_file(tmp_ / ("sounds/" + std::string(f)), "");
    testing::write_file(player(), "#!/bin/sh\nprintf '[cue %s]' \"${1##*/}\" >> \"" + log() + "\"\n");
    chmod(player().c_str(), 0755);
  }

  std::string root() const { return tmp_ / "images"; }
  std::string data(const std::string& name) const { return root() + "/" + dir_ + "/" + name; }
  std::string player() const { return tmp_ / "player.sh"; }
  std::string log() const { return tmp_ / "run.log"; }

  // Sorted names of the files in the data-set directory.
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(root() + "/" + dir_))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // Runs tesk with `input` on standard input; only the data root is set.
  ProcessResult run(const std::string& input) const {
    return testing::run_process({"/bin/sh", "-c", "TESK_IMAGES=\"$1\" TESK_SOUNDS= exec \"$0\"", TESK_EXE, root()},
                                input);
  }

  // Runs tesk with the recording player; its standard output is appended to
  // the log that the player writes its marks into. Returns the exit status
  // and leaves the log's content in `out`.
  ProcessResult run_recorded(const std::string& input) const {
    testing::write_file(log(), "");
    ProcessResult r = testing::run_process(
        {"/bin/sh", "-c",
         "TESK_IMAGES=\"$1\" TESK_SOUNDS=\"$2\" TESK_SOUND_PLAYER=\"$3\" exec \"$0\" >> \"$4\"", TESK_EXE, root(),
         tmp_ / "sounds", player(), log()},
        input);
    r.out = testing::read_file(log());
    return r;
  }

 private:
  TempDir tmp_;
  std::string dir_;
};

}  // namespace tesk::e2e

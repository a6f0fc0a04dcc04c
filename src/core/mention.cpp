#include "core/mention.h"

#include <array>

namespace tesk {
namespace {

constexpr char kMark = '\x1f';  // around a mention
constexpr char kField = '\x1e';  // between its key, its form and its value

// The command line's spelling of each option: its flag, its long form when
// messages use one, and what follows the flag in a usage.
struct Spelling {
  Opt opt;
  const char* key;
  const char* flag;
  const char* long_flag;
  const char* usage;
};
constexpr std::array<Spelling, 25> kOptions = {{
    {Opt::interval, "interval", "-i", "-i/--interval", "N"},
    {Opt::window, "window", "-m", "-m/--window", "N"},
    {Opt::overlay, "overlay", "--no-overlay", nullptr, nullptr},
    {Opt::nodata, "nodata", "--nodata", nullptr, "VALUE"},
    {Opt::band, "band", "-b", nullptr, "BAND"},
    {Opt::attribute, "attribute", "-a", nullptr, "FIELD"},
    {Opt::layer, "layer", "-l", nullptr, "LAYER"},
    {Opt::pixel_size, "pixel_size", "-tr", nullptr, "XRES YRES"},
    {Opt::size, "size", "-ts", nullptr, "WIDTH HEIGHT"},
    {Opt::extent, "extent", "-te", nullptr, "XMIN YMIN XMAX YMAX"},
    {Opt::mask, "mask", "--mask", nullptr, "FILE"},
    {Opt::output_type, "output_type", "-ot", nullptr, "TYPE"},
    {Opt::format, "format", "-of", nullptr, "FORMAT"},
    {Opt::creation_options, "creation_options", "-co", nullptr, "NAME=VALUE"},
    {Opt::preview, "preview", "--preview", nullptr, "FILE.png"},
    {Opt::hillshade, "hillshade", "--hillshade", nullptr, "FILE.png"},
    {Opt::hillshade_z, "hillshade_z", "--hillshade-z", nullptr, "FACTOR"},
    {Opt::overwrite, "overwrite", "--overwrite", nullptr, nullptr},
    {Opt::threads, "threads", "--threads", nullptr, "N"},
    {Opt::tile_size, "tile_size", "--tile-size", nullptr, "PIXELS"},
    {Opt::halo, "halo", "--halo", nullptr, "PIXELS"},
    {Opt::accept_uncertain, "accept_uncertain", "--accept-uncertain", nullptr, nullptr},
    {Opt::method, "method", "--method", nullptr, "METHOD"},
    {Opt::smoothing, "smoothing", "--smoothing", nullptr, "LAMBDA"},
    {Opt::tension, "tension", "--tension", nullptr, "TENSION"},
}};

constexpr bool in_order() {
  for (std::size_t k = 0; k < kOptions.size(); ++k)
    if (static_cast<std::size_t>(kOptions[k].opt) != k) return false;
  return true;
}
static_assert(in_order(), "kOptions follows the order of Opt");

const Spelling& spelling(Opt o) { return kOptions[static_cast<std::size_t>(o)]; }

}  // namespace

const char* key(Opt o) { return spelling(o).key; }

std::optional<Opt> opt_of_key(std::string_view k) {
  for (const auto& s : kOptions)
    if (k == s.key) return s.opt;
  return std::nullopt;
}

std::string mention(Opt o, Form form, std::string_view value) {
  std::string m(1, kMark);
  m += key(o);
  m += kField;
  m += static_cast<char>(form);
  m += kField;
  m += value;
  m += kMark;
  return m;
}

std::string command_line_words(Opt o, Form form, std::string_view value) {
  const Spelling& s = spelling(o);
  // The overlay has a flag each way: --no-overlay, and --overlay for a method
  // that does not lay the contours back by itself.
  if (o == Opt::overlay && form == Form::value && value == "True") return "--overlay";
  switch (form) {
    case Form::name: return s.flag;
    case Form::long_name: return s.long_flag ? s.long_flag : s.flag;
    case Form::value: return s.usage ? std::string(s.flag) + " " + std::string(value) : s.flag;
    case Form::usage: return s.usage ? std::string(s.flag) + " " + s.usage : s.flag;
  }
  return s.flag;
}

std::string render(std::string_view text, const Naming& naming) {
  std::string out;
  std::size_t at = 0;
  for (;;) {
    const std::size_t open = text.find(kMark, at);
    const std::size_t close = open == std::string_view::npos ? open : text.find(kMark, open + 1);
    if (close == std::string_view::npos) return out.append(text.substr(at));
    out.append(text.substr(at, open - at));
    const std::string_view m = text.substr(open + 1, close - open - 1);
    const std::size_t f1 = m.find(kField), f2 = f1 == std::string_view::npos ? f1 : m.find(kField, f1 + 1);
    const auto o = f2 == std::string_view::npos ? std::nullopt : opt_of_key(m.substr(0, f1));
    if (o && f2 == f1 + 2)
      out += naming(*o, static_cast<Form>(m[f1 + 1]), m.substr(f2 + 1));
    else
      out.append(m);  // not a mention: the text as it was, without its marks
    at = close + 1;
  }
}

}  // namespace tesk

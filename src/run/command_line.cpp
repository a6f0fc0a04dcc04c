#include "run/command_line.h"

#include <initializer_list>

#include "core/mention.h"
#include "core/run_error.h"
#include "run/method.h"

namespace tesk {

std::string equivalent_command(const RunOptions& o) {
  std::vector<std::string> a = {"tesk", o.src, o.dst};
  const auto add = [&](Opt opt, std::initializer_list<std::string> values = {}) {
    a.push_back(command_line_words(opt, Form::name, {}));
    a.insert(a.end(), values);
  };
  const auto number = [](double v) { return message_number(v); };
  const SourceChoice& s = o.source;
  add(Opt::interval, {std::to_string(o.surface.interval)});
  if (o.surface.method != Method::classic) add(Opt::method, {traits(o.surface.method).name});
  if (o.surface.window != 1) add(Opt::window, {std::to_string(o.surface.window)});
  if (o.surface.smoothing) add(Opt::smoothing, {number(*o.surface.smoothing)});
  if (o.surface.tension) add(Opt::tension, {number(*o.surface.tension)});
  // The overlay when it is not the method's own choice.
  if (o.surface.overlay && *o.surface.overlay != (o.surface.method == Method::classic))
    a.push_back(command_line_words(Opt::overlay, Form::value, *o.surface.overlay ? "True" : "False"));
  if (o.nodata) add(Opt::nodata, {number(*o.nodata)});
  if (s.band) add(Opt::band, {std::to_string(*s.band)});
  if (!s.attribute.empty()) add(Opt::attribute, {s.attribute});
  if (!s.layer.empty()) add(Opt::layer, {s.layer});
  if (s.pixel_size) add(Opt::pixel_size, {number((*s.pixel_size)[0]), number((*s.pixel_size)[1])});
  if (s.size) add(Opt::size, {std::to_string((*s.size)[0]), std::to_string((*s.size)[1])});
  if (s.extent)
    add(Opt::extent, {number((*s.extent)[0]), number((*s.extent)[1]), number((*s.extent)[2]), number((*s.extent)[3])});
  if (o.mask) add(Opt::mask, {*o.mask});
  if (o.format) add(Opt::format, {*o.format});
  if (o.output_type) add(Opt::output_type, {*o.output_type});
  for (const auto& c : o.creation_options) add(Opt::creation_options, {c});
  if (o.preview) add(Opt::preview, {*o.preview});
  if (o.hillshade) add(Opt::hillshade, {*o.hillshade});
  if (o.hillshade_z != 1) add(Opt::hillshade_z, {number(o.hillshade_z)});
  if (o.tiles.tile_size) add(Opt::tile_size, {std::to_string(*o.tiles.tile_size)});
  if (o.tiles.halo) add(Opt::halo, {std::to_string(*o.tiles.halo)});
  if (o.tiles.accept_uncertain) add(Opt::accept_uncertain);
  if (o.overwrite) add(Opt::overwrite);
  if (o.threads != 0) add(Opt::threads, {std::to_string(o.threads)});
  return shell_quoted(a);
}

std::string shell_quoted(const std::vector<std::string>& words) {
  std::string s;
  for (std::size_t k = 0; k < words.size(); ++k) {
    std::string w = words[k];
    if (w.empty() || w.find_first_of(" \t\n'\"\\$`*?;&|<>()") != std::string::npos) {
      std::string q = "'";
      for (char c : w) q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
      w = q + "'";
    }
    s += (k ? " " : "") + w;
  }
  return s;
}

}  // namespace tesk

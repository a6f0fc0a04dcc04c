// The options a user sets, named once for every front end.
//
// A message of the run that is about an option holds a *mention* of it,
// not its spelling: the command line shows "-i 30", Python "interval=30",
// QGIS the parameter's label.  A mention is a short run of text between two
// unit separators (\x1f ... \x1f) that render() turns into words; each front
// end renders the errors and warnings it shows through its own Naming, the
// command line's being the default (RunError::what()).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tesk {

// Every option of a run, by the name Python gives its parameter.
enum class Opt : std::uint8_t {
  interval, window, overlay, nodata, band, attribute, layer, pixel_size, size, extent, mask, output_type, format,
  creation_options, preview, hillshade, hillshade_z, overwrite, threads, tile_size, halo, accept_uncertain,
  method, smoothing, tension,
};

// How an option is mentioned.
enum class Form : char {
  name = 'n',   // the option itself: "-i", interval
  long_name = 'l',  // the option with its long spelling: "-i/--interval", interval
  value = 'v',  // the option with a value: "-i 30", interval=30 (a switch: "--no-overlay", overlay=False)
  usage = 'u',  // the option with the kind of value it takes: "-a FIELD", attribute=NAME
};

// The Python parameter's name of an option ("interval"), and back.
const char* key(Opt o);
std::optional<Opt> opt_of_key(std::string_view key);

// The mention of o (value: the value as the command line prints it, several
// numbers separated by blanks).
std::string mention(Opt o, Form form = Form::name, std::string_view value = {});
inline std::string mention(Opt o, std::string_view value) { return mention(o, Form::value, value); }

// How a front end spells a mention.
using Naming = std::function<std::string(Opt, Form, std::string_view value)>;

// The command line's spelling.
std::string command_line_words(Opt o, Form form, std::string_view value);

// text with every mention spelt by naming (the command line's by default).
std::string render(std::string_view text, const Naming& naming = command_line_words);

}  // namespace tesk

#include "words.h"

#include <sstream>

#include "core/mention.h"

namespace tesk::py_binding {
namespace {

// The value of a switch that its command-line flag stands for.
const char* switch_value(Opt o) {
  switch (o) {
    case Opt::overlay: return "False";
    case Opt::overwrite:
    case Opt::accept_uncertain: return "True";
    default: return nullptr;
  }
}

// What a parameter takes, in a usage.
const char* usage(Opt o) {
  switch (o) {
    case Opt::attribute:
    case Opt::layer: return "NAME";
    case Opt::pixel_size: return "(XRES, YRES)";
    case Opt::size: return "(WIDTH, HEIGHT)";
    case Opt::extent: return "(XMIN, YMIN, XMAX, YMAX)";
    default: return "VALUE";
  }
}

// The command line's value in Python: several numbers become a tuple.
std::string python_value(std::string_view value) {
  if (value.find(' ') == std::string_view::npos) return std::string(value);
  std::istringstream in{std::string(value)};
  std::string word, out;
  while (in >> word) out += (out.empty() ? "(" : ", ") + word;
  return out + ")";
}

std::string python_words(bool fill, Opt o, Form form, std::string_view value) {
  if (o == Opt::overlay && form == Form::value && !value.empty()) return "overlay=" + std::string(value);
  const std::string name = fill && o == Opt::output_type ? "dtype" : key(o);
  if (const char* v = switch_value(o))
    return name + "=" + (form == Form::value && !value.empty() ? std::string(value) : std::string(v));
  switch (form) {
    case Form::name:
    case Form::long_name: return name;
    case Form::value: return name + "=" + python_value(value);
    case Form::usage: return name + "=" + usage(o);
  }
  return name;
}

}  // namespace

std::string Words::operator()(const std::string& raw) const {
  if (!callable || callable.is_none())
    return render(raw, [this](Opt o, Form f, std::string_view v) { return python_words(fill, o, f, v); });
  return render(raw, [this](Opt o, Form f, std::string_view v) {
    return callable(key(o), std::string(1, static_cast<char>(f)), std::string(v)).cast<std::string>();
  });
}

void raise_failure(const RunError& e, const Words& words) {
  const std::string text = words(e.raw());
  if (dynamic_cast<const MemoryRefusal*>(&e)) PyErr_SetString(PyExc_MemoryError, text.c_str());
  else if (dynamic_cast<const OutputExists*>(&e)) PyErr_SetString(PyExc_FileExistsError, text.c_str());
  else if (dynamic_cast<const FileSystemFault*>(&e)) PyErr_SetString(PyExc_OSError, text.c_str());
  else PyErr_SetString(PyExc_ValueError, text.c_str());
  throw py::error_already_set();
}

RunHooks Control::hooks() {
  RunHooks h;
  h.cancel = [this] { return cancel.load(std::memory_order_relaxed); };
  h.progress = [this](double f) { fraction.store(f, std::memory_order_relaxed); };
  h.warn = [this](const std::string& text) {
    const std::lock_guard<std::mutex> guard(lock);
    warnings.push_back(text);
  };
  return h;
}

void Control::give_warnings(const Words& words) {
  std::vector<std::string> ws;
  {
    const std::lock_guard<std::mutex> guard(lock);
    ws.swap(warnings);
  }
  for (const auto& w : ws)
    if (PyErr_WarnEx(PyExc_UserWarning, words(w).c_str(), 2) != 0) throw py::error_already_set();
}

}  // namespace tesk::py_binding

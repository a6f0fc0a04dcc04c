#include "io/gdal_warnings.h"

#include <cstdio>

#include <cpl_conv.h>
#include <cpl_error.h>

namespace tesk::gdal {
namespace {

thread_local Session* g_session = nullptr;

void CPL_STDCALL handler(CPLErr kind, CPLErrorNum, const char* message) {
  if (kind == CE_Warning && message) warn(message);
}

}  // namespace

Session::Session(std::function<void(const std::string&)> sink) : sink_(std::move(sink)), outer_(g_session) {
  g_session = this;
  CPLPushErrorHandler(handler);
}

Session::~Session() {
  CPLPopErrorHandler();
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
    CPLSetThreadLocalConfigOption(it->first.c_str(), it->second ? it->second->c_str() : nullptr);
  g_session = outer_;
}

void Session::set_option(const char* key, const char* value) {
  const char* old = CPLGetThreadLocalConfigOption(key, nullptr);
  saved_.emplace_back(key, old ? std::optional<std::string>(old) : std::nullopt);
  CPLSetThreadLocalConfigOption(key, value);
}

Session* current_session() { return g_session; }

void Session::deliver(const Session* s, const std::string& text) {
  if (s && s->sink_) {
    s->sink_(text);
  } else {
    std::fprintf(stderr, "Warning: %s\n", text.c_str());
    std::fflush(stderr);
  }
}

void warn(const std::string& text) { Session::deliver(g_session, text); }

std::function<void(const std::string&)> rewriting_sink(std::function<std::string(const std::string&)> rewrite) {
  return [outer = g_session, rewrite = std::move(rewrite)](const std::string& text) {
    Session::deliver(outer, rewrite(text));
  };
}

}  // namespace tesk::gdal

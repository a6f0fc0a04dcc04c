#include "core/sample_type.h"

#include <array>
#include <cmath>
#include <limits>

namespace tesk {
namespace {

constexpr std::array<SampleTypeInfo, 10> kTypes = {{
    {SampleType::uint8, "Byte", "uint8", 8, false, false},
    {SampleType::int8, "Int8", "int8", 8, true, false},
    {SampleType::uint16, "UInt16", "uint16", 16, false, false},
    {SampleType::int16, "Int16", "int16", 16, true, false},
    {SampleType::uint32, "UInt32", "uint32", 32, false, false},
    {SampleType::int32, "Int32", "int32", 32, true, false},
    {SampleType::uint64, "UInt64", "uint64", 64, false, false},
    {SampleType::int64, "Int64", "int64", 64, true, false},
    {SampleType::float32, "Float32", "float32", 32, true, true},
    {SampleType::float64, "Float64", "float64", 64, true, true},
}};

constexpr bool in_order() {
  for (std::size_t k = 0; k < kTypes.size(); ++k)
    if (static_cast<std::size_t>(kTypes[k].type) != k) return false;
  return true;
}
static_assert(in_order(), "kTypes follows the order of SampleType");

}  // namespace

const SampleTypeInfo& info(SampleType t) { return kTypes[static_cast<std::size_t>(t)]; }

std::optional<SampleType> type_of_gdal_name(std::string_view name) {
  for (const auto& t : kTypes)
    if (name == t.gdal) return t.type;
  return std::nullopt;
}

std::optional<SampleType> type_of_numpy_name(std::string_view name) {
  for (const auto& t : kTypes)
    if (name == t.numpy) return t.type;
  return std::nullopt;
}

double IntRange::hi() const {
  const double h = end - 1;
  return h < end ? h : std::nextafter(end, lo);
}

std::optional<IntRange> int_range(SampleType t) {
  const SampleTypeInfo& i = info(t);
  if (i.real) return std::nullopt;
  const int digits = i.is_signed ? i.bits - 1 : i.bits;
  return IntRange{i.is_signed ? -std::ldexp(1.0, digits) : 0.0, std::ldexp(1.0, digits)};
}

bool holds_value(SampleType t, double v) {
  if (t == SampleType::float64) return true;
  if (t == SampleType::float32) return !std::isfinite(v) || std::fabs(v) <= std::numeric_limits<float>::max();
  return std::isfinite(v) && v == std::trunc(v) && int_range(t)->holds(v);
}

double as_sample(double v, SampleType t) {
  return t == SampleType::float32 ? static_cast<double>(static_cast<float>(v)) : v;
}

std::optional<SampleType> narrowest(double min, double max, std::span<const SampleType> among) {
  std::optional<SampleType> best;
  for (const SampleType t : among) {
    const auto r = int_range(t);
    if (!r || !r->holds(min) || !r->holds(max)) continue;
    const SampleTypeInfo& i = info(t);
    if (!best || i.bits < info(*best).bits || (i.bits == info(*best).bits && !i.is_signed)) best = t;
  }
  return best;
}

std::optional<SampleType> narrowest(double min, double max) {
  static constexpr SampleType kIntegers[] = {SampleType::uint8,  SampleType::int8,  SampleType::uint16,
                                             SampleType::int16,  SampleType::uint32, SampleType::int32,
                                             SampleType::uint64, SampleType::int64};
  return narrowest(min, max, kIntegers);
}

}  // namespace tesk

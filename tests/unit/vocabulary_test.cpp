// The words every front end shares: options mentioned in messages and spelt
// by each front end, and the table of sample types.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/mention.h"
#include "core/run_error.h"
#include "core/sample_type.h"

namespace tesk {
namespace {

TEST(Mention, EachFrontEndSpellsTheOptionsItsWay) {
  struct Case {
    std::string text, command_line;
  };
  for (const Case& c : {
           Case{mention(Opt::interval, Form::long_name) + " must not be 0", "-i/--interval must not be 0"},
           Case{"multiples of " + mention(Opt::interval, "30") + ":", "multiples of -i 30:"},
           Case{"with " + mention(Opt::extent, Form::usage), "with -te XMIN YMIN XMAX YMAX"},
           Case{"add " + mention(Opt::accept_uncertain, "True") + " or " + mention(Opt::overlay),
                "add --accept-uncertain or --no-overlay"},
           Case{mention(Opt::pixel_size, "90 90") + mention(Opt::window), "-tr 90 90-m"},
           Case{"no mention, a \x1f stray mark", "no mention, a \x1f stray mark"},
           Case{"\x1fnot an option\x1e" "v\x1e" "1\x1f!", "not an option\x1e" "v\x1e" "1!"},
       }) {
    EXPECT_EQ(render(c.text), c.command_line);
    EXPECT_EQ(RunError(c.text).what(), c.command_line);
    EXPECT_EQ(RunError(c.text).raw(), c.text);
  }
  const Naming python = [](Opt o, Form f, std::string_view v) {
    return std::string(key(o)) + (f == Form::value ? "=" + std::string(v) : "");
  };
  EXPECT_EQ(render(mention(Opt::tile_size, "64") + " and " + mention(Opt::smoothing), python),
            "tile_size=64 and smoothing");
  for (int k = 0; k <= static_cast<int>(Opt::tension); ++k)
    EXPECT_EQ(opt_of_key(key(static_cast<Opt>(k))), static_cast<Opt>(k)) << key(static_cast<Opt>(k));
}

TEST(SampleType, RangesAndTheNarrowestType) {
  struct Case {
    double lo, hi;
    std::optional<SampleType> narrowest;
  };
  for (const Case& c : {Case{0, 255, SampleType::uint8}, Case{-1, 127, SampleType::int8},
                        Case{-1, 128, SampleType::int16}, Case{0, 65535, SampleType::uint16},
                        Case{-40000, 0, SampleType::int32}, Case{0, 4294967295.0, SampleType::uint32},
                        Case{0, 4294967296.0, SampleType::uint64}, Case{-1, std::ldexp(1.0, 63), std::nullopt}})
    EXPECT_EQ(narrowest(c.lo, c.hi), c.narrowest) << c.lo << ".." << c.hi;
  const SampleType among[] = {SampleType::int16, SampleType::uint32};
  EXPECT_EQ(narrowest(0, 300, among), SampleType::int16);
  EXPECT_EQ(narrowest(0, 70000, among), SampleType::uint32);
  EXPECT_TRUE(holds_value(SampleType::uint16, 65535) && !holds_value(SampleType::uint16, 65536));
  EXPECT_TRUE(!holds_value(SampleType::int8, 0.5) && !holds_value(SampleType::int32, NAN));
  EXPECT_TRUE(holds_value(SampleType::float32, 1e38) && !holds_value(SampleType::float32, 1e39));
  EXPECT_EQ(int_range(SampleType::uint64)->hi(), std::ldexp(1.0, 64) - 2048);  // the largest double below 2^64
  EXPECT_EQ(int_range(SampleType::int16)->hi(), 32767);
  EXPECT_EQ(as_sample(0.1, SampleType::float32), static_cast<double>(0.1f));
  EXPECT_EQ(type_of_gdal_name("Byte"), SampleType::uint8);
  EXPECT_EQ(type_of_numpy_name("float64"), SampleType::float64);
}

}  // namespace
}  // namespace tesk

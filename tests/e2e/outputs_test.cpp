// What the command line writes: whole outputs or none, never over the source
// or over each other, values the output type holds, and a hillshade on a
// geographic grid.
#include <sys/stat.h>

#include <cmath>

#include "core/run_error.h"
#include "io/staged_output.h"
#include "support/test_support.h"

namespace tesk::e2e {
namespace {

const std::string kSrc = demo("jacksboro_i20_c.tif"), kValleys = demo("jacksboro_valleys.geojson");
using Args = std::vector<std::string>;

std::string at(std::string s, const TempDir& tmp) {  // '@' stands for the scratch directory, '%' for it relative
  for (std::size_t k; (k = s.find('@')) != std::string::npos;) s.replace(k, 1, tmp.path());
  for (std::size_t k; (k = s.find('%')) != std::string::npos;) s.replace(k, 1, fs::relative(tmp.path()).string());
  return s;
}

int temporary_files(const std::string& dir) {
  int n = 0;
  for (const auto& e : fs::directory_iterator(dir)) n += e.path().filename().string().rfind(".tesk-", 0) == 0;
  return n;
}
#ifdef TESK_FAULT_INJECTION
constexpr bool kFaults = true;
#else
constexpr bool kFaults = false;  // TESK_FAULT is ignored: the rows that need it are left out
#endif

// Runs with --overwrite that fail once the work has begun (a creation
// option GDAL refuses, a format that writes no file, a format that drops
// or changes the no-data value the pixels outside a mask need, a failure
// just before the renaming, a SIGINT while the destination is written,
// through Create and through CreateCopy): every existing output keeps its
// bytes, no temporary file stays, and the message names the output.
TEST(BatchOutputs, AFailedRunKeepsTheOldFilesByteForByte) {
  TempDir tmp;
  const std::tuple<Args, const char*, int, const char*> cases[] = {
      {{"-co", "BLOCKXSIZE=7"}, "", 1, "cannot create @/a.tif"},
      {{"-co", "COMPRESS=JPEG"}, "", 1, "JPEG compression is lossy"},
      {{"-of", "VRT"}, "", 1, "-of VRT"},
      {{"-of", "MEM"}, "", 1, "-of MEM"},
      {{"-of", "AAIGrid", "-co", "DECIMAL_PRECISION=1"}, "", 1, "AAIGrid did not keep the DEM's values: read back, "},
      {{"-of", "XYZ", "--mask", kValleys}, "", 1, "XYZ gave the file no no-data value instead of 65500: read back, 117820 pixels outside the mask read as altitudes"},
      {{"-of", "GSBG", "--mask", kValleys}, "", 1, "GSBG gave the file the no-data value 1.70141000918783e+38 instead of 65500: read back, 117820 pixels outside"},
      {{}, "fail-before-rename", 1, "TESK_FAULT"},
      {{}, "fail-mid-rename", 1, "no output written, every existing file as it was"},
      {{}, "signal-while-writing", 130, "stopped by signal 2"},
      {{"-of", "PNG"}, "signal-while-writing", 130, "stopped by signal 2"},
      {{}, "two-signals-while-writing", -1, ""},  // ended by the second signal, its files removed
  };
  for (const auto& [extra, fault, status, piece] : cases) {
    SCOPED_TRACE(std::string(fault) + (extra.empty() ? "" : " " + extra[1]));
    if (*fault && !kFaults) continue;
    for (const char* f : {"a.tif", "p.png", "h.png"}) write_file(tmp / f, std::string("old ") + f);
    Args args = {kSrc, tmp / "a.tif", "-i", "20", "--overwrite", "--preview", tmp / "p.png", "--hillshade", tmp / "h.png"};
    args.insert(args.end(), extra.begin(), extra.end());
    const ProcessResult r = tesk(args, {std::string("TESK_FAULT=") + fault});
    EXPECT_EQ(r.status, status);
    EXPECT_NE(r.err.find(at(piece, tmp)), std::string::npos) << r.err;
    for (const char* f : {"a.tif", "p.png", "h.png"}) EXPECT_EQ(read_file(tmp / f), std::string("old ") + f);
    EXPECT_EQ(temporary_files(tmp.path()), 0);
  }
  // Bytes flagged signed read back as -128..127: the volcano's 95 to 195 do not come back.
  const ProcessResult sb = tesk({demo("volcano_i5_c2.raw"), tmp / "s.tif", "-i", "5", "-ot", "Byte", "-co", "PIXELTYPE=SIGNEDBYTE"});
  EXPECT_EQ(sb.status, 1);
  EXPECT_NE(sb.err.find("differ from the computed values, by up to 256; bytes flagged signed"), std::string::npos) << sb.err;
  EXPECT_EQ(temporary_files(tmp.path()), 0);
  EXPECT_FALSE(fs::exists(tmp / "s.tif"));
  // The classic set too; then a run that succeeds replaces it and drops the
  // statistics an older output left beside its name.
  const Args classic = {kSrc, tmp / "c_m2.raw", "-i", "20", "-q", "--overwrite"};
  for (const char* f : {"c_m2.raw", "c_m2.txt", "c_m1.raw", "c_m1.txt", "c_m2.raw.aux.xml"}) write_file(tmp / f, f);
  for (const char* fault : {"fail-before-rename", "fail-mid-rename"}) {
    if (!kFaults) break;
    EXPECT_EQ(tesk(classic, {std::string("TESK_FAULT=") + fault}).status, 1);
    for (const char* f : {"c_m2.raw", "c_m2.txt", "c_m1.raw", "c_m1.txt"}) EXPECT_EQ(read_file(tmp / f), f);
  }
  // A move that fails after its link, the new file then at both names, is
  // put back with the others (the older destination, the new previews).
  if (kFaults) {
    write_file(tmp / "a.tif", "old"), fs::remove(tmp / "p.png"), fs::remove(tmp / "h.png");
    const ProcessResult r = tesk({kSrc, tmp / "a.tif", "-i", "20", "--overwrite", "--preview", tmp / "p.png", "--hillshade",
                                  tmp / "h.png"}, {"TESK_FAULT=fail-unlink-after-link"});
    EXPECT_TRUE(r.status == 1 && r.err.ends_with("; no output written, every existing file as it was\n")) << r.err;
    EXPECT_TRUE(read_file(tmp / "a.tif") == "old" && !file_exists(tmp / "p.png") && !file_exists(tmp / "h.png"));
    EXPECT_EQ(temporary_files(tmp.path()), 0);
  }
  // A file size limit (ulimit -f) reached while the DEM is written fails the
  // write, which the run reports: the older file stays, no temporary one.
  {
    write_file(tmp / "a.tif", "old");
    const ProcessResult r = run_process({"/bin/sh", "-c", "ulimit -f 40; exec \"$@\"", "sh", TESK_EXE, kSrc, tmp / "a.tif",
                                         "-i", "20", "-q", "--overwrite"}, "", {});
    EXPECT_TRUE(r.status == 1 && r.err.starts_with("tesk: cannot write " + tmp / "a.tif")) << r.status << r.err;
    EXPECT_TRUE(read_file(tmp / "a.tif") == "old" && temporary_files(tmp.path()) == 0);
  }
  // A SIGINT the caller ignores (nohup, a shell's background job) stays
  // ignored: the run goes on to its end.
  if (kFaults) {
    const ProcessResult r = run_process({"/bin/sh", "-c", "trap '' INT; exec \"$@\"", "sh", TESK_EXE, kSrc, tmp / "i.tif",
                                         "-i", "20", "-q"}, "", {"TESK_FAULT=signal-while-writing"});
    EXPECT_TRUE(r.status == 0 && file_exists(tmp / "i.tif")) << r.err;
  }
  EXPECT_EQ(tesk(classic).status, 0);
  EXPECT_EQ(read_file(tmp / "c_m2.txt"), "344 \n403 \n0 \n0 \n0 \n90");
  EXPECT_FALSE(file_exists(tmp / "c_m2.raw.aux.xml"));
  EXPECT_EQ(temporary_files(tmp.path()), 0);
}

// Formats lossy by default write losslessly: JPEG 2000 gives the GeoTIFF's
// values, and its no-data value outside a mask; a lossy option the user
// gives is written, with a warning; so is a format that keeps no no-data
// value (XYZ) when no pixel needs one.
TEST(BatchOutputs, LossyFormatsKeepTheValuesUnlessAsked) {
  TempDir tmp;
  const Args run = {kSrc, "-i", "20", "-m", "3", "-q", "-ot", "UInt16"};
  auto with = [&](Args more) { return (more.insert(more.begin(), run.begin(), run.end()), tesk(more)); };
  ASSERT_EQ(with({tmp / "ref.tif"}).status, 0);
  const ProcessResult r = with({tmp / "a.jp2"});
  EXPECT_TRUE(r.status == 0 && r.err.empty()) << r.err;
  EXPECT_TRUE(read_raster(tmp / "a.jp2").v == read_raster(tmp / "ref.tif").v);
  const ProcessResult lossy = with({tmp / "b.jp2", "-co", "QUALITY=5", "-co", "REVERSIBLE=NO"});
  EXPECT_EQ(lossy.status, 0);
  EXPECT_NE(lossy.err.find("Warning: -co QUALITY=5 writes lossily: read back, "), std::string::npos) << lossy.err;
  EXPECT_NE(lossy.err.find(" differ from the computed values, by up to "), std::string::npos) << lossy.err;
  ASSERT_EQ(with({tmp / "ref_m.tif", "--mask", kValleys}).status, 0);
  EXPECT_EQ(with({tmp / "m.jp2", "--mask", kValleys}).err, "");
  const Raster jp2 = read_raster(tmp / "m.jp2"), ref = read_raster(tmp / "ref_m.tif");
  EXPECT_TRUE(jp2.v == ref.v && jp2.has_nodata && jp2.nodata == ref.nodata);
  // GDAL's own warnings name the output, not its temporary file; an option
  // the format ignores writes every value, with no claim of loss.
  const ProcessResult nbits = tesk({kSrc, tmp / "n.tif", "-i", "20", "-q", "-co", "NBITS=8"});
  EXPECT_EQ(std::pair(nbits.status, nbits.err.substr(0, nbits.err.find(':', 9))), std::pair(0, "Warning: " + tmp / "n.tif"));
  EXPECT_TRUE(nbits.err.find(".tesk-") == std::string::npos && nbits.err.find("lossily") == std::string::npos) << nbits.err;
  const ProcessResult xyz = with({tmp / "a.xyz"});
  EXPECT_EQ(std::pair(xyz.status, xyz.err), std::pair(0, std::string("Warning: the format XYZ gave the file no no-data value instead of 65500: read back, every pixel still reads as meant\n")));
}

// A set is whole or refused: any file of it, or beside it that an older
// output left (EHdr's header, projection and statistics; a classic
// preview's header), refuses the run before any work without --overwrite,
// naming the file; with it, the stale ones go.
TEST(BatchOutputs, TheFilesBesideAnOutputAreCheckedAndStaleOnesGo) {
  const std::tuple<Args, const char*, std::vector<const char*>, std::vector<const char*>> cases[] = {
      {{"@/d.bil", "-of", "EHdr"}, "d.hdr", {"d.prj", "d.stx"}, {"d.bil", "d.hdr", "d.prj"}},
      {{"@/c_m2.raw"}, "c_m1.txt", {}, {"c_m2.raw", "c_m2.txt", "c_m1.raw", "c_m1.txt"}},
      {{"@/t.tif", "--preview", "@/p.png"}, "t.tfw", {"t.tfw", "p.png.aux.xml"}, {"t.tif", "p.png"}},
      {{"@/s.sdat"}, "s.prj", {}, {"s.sdat", "s.sgrd", "s.prj"}},  // an older AAIGrid's s.prj
  };
  for (const auto& [args, stale, gone, made] : cases) {
    SCOPED_TRACE(stale);
    TempDir tmp;
    Args argv = {kSrc, "-i", "20", "-q"};
    for (const auto& a : args) argv.push_back(at(a, tmp));
    write_file(tmp / stale, "old");
    for (const char* f : gone) write_file(tmp / f, "old");
    const ProcessResult r = tesk(argv);
    EXPECT_TRUE(r.status == 1 && r.err.starts_with("tesk: " + tmp / stale + " already exists") &&
                r.err.ends_with("add --overwrite to replace it\n")) << r.err;
    EXPECT_EQ(temporary_files(tmp.path()), 0);
    argv.push_back("--overwrite");
    EXPECT_EQ(tesk(argv).status, 0);
    for (const char* f : gone) EXPECT_TRUE(!file_exists(tmp / f) || std::find(made.begin(), made.end(), f) != made.end()) << f;
    for (const char* f : made) EXPECT_TRUE(file_exists(tmp / f) && read_file(tmp / f) != "old") << f;
    EXPECT_EQ(temporary_files(tmp.path()), 0);
  }
  // An output in another format over an older one takes the older format's
  // files with it: a GeoTIFF named d.bil over an EHdr.
  TempDir tmp;
  ASSERT_EQ(tesk({kSrc, tmp / "d.bil", "-i", "20", "-q", "-of", "EHdr"}).status, 0);
  ASSERT_TRUE(file_exists(tmp / "d.hdr") && file_exists(tmp / "d.prj"));
  ASSERT_EQ(tesk({kSrc, tmp / "d.bil", "-i", "20", "-q", "-of", "GTiff", "--overwrite"}).status, 0);
  EXPECT_TRUE(!file_exists(tmp / "d.hdr") && !file_exists(tmp / "d.prj") && read_raster(tmp / "d.bil").v.size() > 0);
}

// Without --overwrite, a file or a directory store that appears under an
// output's name during the run is never replaced: the new result goes, the
// intruder stays.
TEST(BatchOutputs, ARenameNeverReplacesAFileThatAppeared) {
  TempDir tmp;
  {
    Staging staging(false);
    write_file(staging.add(tmp / "x.tif"), "new");
    write_file(tmp / "x.tif", "intruder");
    EXPECT_THROW(staging.commit(), RunError);
  }
  EXPECT_EQ(read_file(tmp / "x.tif"), "intruder");
  {
    Staging staging(false);
    fs::create_directory(staging.add(tmp / "y.zarr", {}, true));
    fs::create_directory(tmp / "y.zarr");
    write_file(tmp / "y.zarr/intruder", "intruder");
    EXPECT_THROW(staging.commit(), RunError);
  }
  EXPECT_EQ(read_file(tmp / "y.zarr/intruder"), "intruder");
  EXPECT_EQ(temporary_files(tmp.path()), 0);
}


// A format that writes a directory (Zarr) replaces its own older store with
// --overwrite, whole: a run that fails at the renaming leaves the older
// store as it was, one that succeeds leaves nothing of it.
TEST(BatchOutputs, ADirectoryStoreIsReplacedWhole) {
  TempDir tmp;
  const std::string z = tmp / "z.zarr";
  const Args run = {kSrc, z, "-i", "20", "-q", "-of", "Zarr", "--preview", tmp / "p.png"};
  const auto with = [&](Args more) { return (more.insert(more.begin(), run.begin(), run.end()), tesk(more)); };
  ASSERT_EQ(with({}).status, 0);
  const auto first = read_raster(z).v;
  write_file(z + "/older", "older");
  EXPECT_TRUE(with({}).err.starts_with("tesk: " + z + " already exists"));
  if (kFaults) {
    const ProcessResult r = tesk({kSrc, z, "-i", "20", "-q", "-of", "Zarr", "--preview", tmp / "p.png", "--overwrite",
                                  "-m", "3"}, {"TESK_FAULT=fail-mid-rename"});
    EXPECT_TRUE(r.status == 1 && r.err.ends_with("every existing file as it was\n")) << r.err;
    EXPECT_TRUE(read_file(z + "/older") == "older" && read_raster(z).v == first);
  }
  ASSERT_EQ(with({"--overwrite", "-m", "3"}).status, 0);
  EXPECT_TRUE(!file_exists(z + "/older") && read_raster(z).v != first);
  EXPECT_EQ(temporary_files(tmp.path()), 0);
}
// No output is the source or another output, by name, link or hard link,
// nor a device or a pipe, with or without --overwrite; refused before
// anything is written.
TEST(BatchOutputs, AnOutputThatIsTheSourceOrAnotherOutputIsRefused) {
  TempDir tmp;
  fs::copy_file(kSrc, tmp / "src.tif");
  write_file(tmp / "a.tif", "old");
  fs::create_symlink(tmp / "a.tif", tmp / "link.tif");
  fs::create_hard_link(tmp / "a.tif", tmp / "hard.tif");
  fs::create_directory(tmp / "dir");
  ASSERT_EQ(mkfifo((tmp / "fifo").c_str(), 0600), 0);
  const std::pair<Args, std::string> cases[] = {
      {{"@/src.tif", "@/fifo"}, "the destination @/fifo is not a regular file"},
      {{"@/src.tif", "@/n.tif", "--preview", "/dev/null"}, "--preview /dev/null is not a regular file"},
      {{"@/src.tif", "%/n.tif", "--preview", "@/n.tif"}, "--preview @/n.tif is also the destination"},
      {{"@/src.tif", "@/dir"}, "the destination @/dir is a directory"},
      {{"@/src.tif", ""}, "the destination is an empty name"},
      {{"@/src.tif", "@/n.tif", "--preview", ""}, "--preview is an empty name"},
      {{"@/src.tif", "@/a.tif", "--preview", "@/a.tif"}, "--preview @/a.tif is also the destination"},
      {{"@/src.tif", "@/a.tif", "--hillshade", "@/link.tif"}, "--hillshade @/link.tif is also the destination"},
      {{"@/src.tif", "@/a.tif", "--preview", "@/hard.tif"}, "--preview @/hard.tif is also the destination"},
      {{"@/src.tif", "@/n.tif", "--preview", "@/p.png", "--hillshade", "@/p.png"}, "--hillshade @/p.png is also --preview"},
      {{"@/src.tif", "@/n.tif", "--preview", "@/src.tif"}, "--preview @/src.tif is the source"},
      {{"@/src.tif", "@/./src.tif"}, "the destination @/./src.tif is the source"},
      {{"@/src.tif", "@/n_m2.raw", "--preview", "@/n_m1.raw"}, "--preview @/n_m1.raw is also the destination"},
      {{"@/src.tif", "@/a.tif", "--mask", "@/a.tif"}, "the destination @/a.tif is a file of the source or the mask @/a.tif"},
      {{"@/src.tif", "@/n.tif", "--preview", "@/src.tif.aux.xml"}, "--preview @/src.tif.aux.xml is a file of the source"},
      {{"@/src.tif", "@/n.tif", "--preview", "@/n.tif.aux.xml"}, "--preview @/n.tif.aux.xml would be taken for "
                                                                "@/n.tif.aux.xml, a file of the destination"},
  };
  for (const auto& [args, message] : cases) {
    for (const bool overwrite : {false, true}) {
      Args argv = {"-i", "20", "-q"};
      for (const auto& a : args) argv.push_back(at(a, tmp));
      if (overwrite) argv.push_back("--overwrite");
      SCOPED_TRACE(message);
      const ProcessResult r = tesk(argv);
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err.rfind("tesk: " + at(message, tmp), 0), 0u) << r.err;
      EXPECT_TRUE(read_file(tmp / "src.tif") == read_file(kSrc) && read_file(tmp / "a.tif") == "old");
      for (const char* f : {"n.tif", "p.png", "n_m2.raw", "n_m1.raw"}) EXPECT_FALSE(file_exists(tmp / f)) << f;
    }
  }
}

// Output types: Float32 at full resolution by default, integer types in
// whole units (without the int limits), names in any case; a format without
// floating point falls back, with a warning, to its narrowest type that
// holds the result, or refuses; a value on the no-data value moves it.
TEST(BatchOutputs, TheOutputTypeHoldsEveryValue) {
  const double k = 1000.998046875;  // 1001 at 1/512 of an interval of 3
  const std::tuple<const char*, std::vector<double>, double, const char*, Args, std::string, std::vector<double>,
                   std::optional<double>, std::string>
      cases[] = {
          {"Int32", {1001, -1001}, -9999, "3", {}, "Float32", {k, -k}, -9999, ""},
          {"Int32", {1001, -1001}, -9999, "3", {"-ot", "float64"}, "Float64", {k, -k}, -9999, ""},
          {"Int32", {1001, -1001}, -9999, "3", {"-ot", "int16"}, "Int16", {1000, -1000}, -9999, ""},
          {"UInt32", {3e9, 1, 4e9}, 1, "1000", {"-ot", "UInt32"}, "UInt32", {3e9, 3.5e9, 4e9}, 1, ""},
          {"Int16", {5, 300}, -9999, "1", {"-of", "PNG"}, "UInt16", {5, 300}, 0, "Warning: the format PNG"},
          {"Int16", {5, 200}, -9999, "1", {"-of", "PNG"}, "Byte", {5, 200}, 0, "cannot hold the no-data value -9999: the output's no-data value is 0 instead"},
          {"Int16", {-5, 300}, -9999, "1", {"-of", "PNG"}, "", {}, {}, "PNG (Byte, UInt16) cannot hold the result, whose values run from -5 to 300: write it as a GeoTIFF (-of GTiff"},
          {"Int16", {5, 300}, -9999, "1", {"-of", "GIF"}, "", {}, {}, "GIF (Byte) cannot hold"},
          {"Int16", {5, 300}, -9999, "1", {"-ot", "Byte"}, "", {}, {}, "-ot Byte cannot hold the result, whose values run from 5 to 300: choose a wider type (-ot UInt16 holds it)"},
          {"Int16", {5, 300}, -9999, "1", {"-of", "PNG", "-ot", "Float32"}, "", {}, {}, "-ot Float32: the format PNG stores Byte, UInt16 only"},
          {"Int16", {-10, 0, 10}, 0, "10", {"-ot", "Int16"}, "Int16", {-10, 0, 10}, -32768, "Warning: 1 pixel of the result equals the no-data value 0: the output's no-data value is -32768 instead"},
          {"Int16", {-10, 0, 10}, 0, "10", {}, "Float32", {-10, 0, 10}, -3.4028234663852886e38, "the output's no-data value is -3.4028234663852886e+38"},
          {"Int32", {-2147483600}, -2147483648.0, "4194304", {"-ot", "Int32"}, "Int32", {-2147483648.0}, 2147483647, "no-data value is 2147483647"},
      };
  for (const auto& [type, values, nodata, interval, extra, out_type, out, out_nodata, message] : cases) {
    SCOPED_TRACE(std::string(type) + " " + message);
    TempDir tmp;
    write_tif(tmp / "src.tif", type, 1, static_cast<int>(values.size()), values, nodata);
    Args args = {tmp / "src.tif", tmp / "out", "-i", interval, "-q"};
    args.insert(args.end(), extra.begin(), extra.end());
    ProcessResult r = tesk(args);
    EXPECT_EQ(r.status, out_type.empty() ? 1 : 0);
    const auto line = r.err.find("Warning: 2 contour pixels");  // 1001 and -1001 off -i 3: not this test's
    if (line != std::string::npos) r.err.erase(line, r.err.find('\n', line) + 1 - line);
    EXPECT_TRUE(message.empty() ? r.err.empty() : r.err.find(message) != std::string::npos) << r.err;
    if (out_type.empty()) {
      EXPECT_FALSE(file_exists(tmp / "out"));
      continue;
    }
    const Raster o = read_raster(tmp / "out");
    EXPECT_EQ(std::tuple(o.type, o.v, o.has_nodata), std::tuple(out_type, out, out_nodata.has_value()));
    EXPECT_EQ(o.nodata, out_nodata.value_or(o.nodata));
  }
}

// The output's no-data value is one no pixel inside takes: the source's
// when the type holds it, else the type's lowest, its highest, or the
// first value the result leaves free, with a warning; with --mask, refused
// only when the inside takes every value of the type; the same through
// tiles; without a mask, none left is a warning.  Each pixel is a contour
// at -i 1, so the result is the source: lo..hi but `gap`, and with the mask
// one pixel outside it.
TEST(BatchOutputs, TheNoDataValueIsOneNoPixelTakes) {
  const std::string moved = "Warning: the output type Byte cannot hold the no-data value 65500: the output's no-data value is ";
  const std::tuple<const char*, double, double, double, double, bool, Args, std::optional<double>, std::string> cases[] = {
      {"UInt16", 65500, 10, 200, -1, true, {"-ot", "Byte"}, 0, moved + "0 instead"},
      {"UInt16", 65500, 0, 200, -1, true, {"-ot", "Byte"}, 255, moved + "255 instead"},
      {"UInt16", 65500, 0, 255, 17, true, {"-ot", "Byte"}, 17, moved + "17 instead"},
      {"UInt16", 65500, 0, 255, 200, true, {"-ot", "Byte", "--tile-size", "64", "--halo", "0"}, 200, moved + "200 instead"},
      {"UInt16", 65500, 0, 255, -1, true, {"-ot", "Byte"}, {}, "tesk: --mask: the result inside the mask takes every value of the output type Byte, so no value is left for no-data"},
      {"UInt16", 65500, 0, 255, -1, false, {"-ot", "Byte"}, {}, "Warning: the output type Byte cannot hold the no-data value 65500: the output has no no-data value"},
      {"UInt16", 65500, 10, 200, -1, false, {"-ot", "Byte"}, 0, moved + "0 instead"},
      {"Float64", 1e300, 10, 200, -1, true, {}, -3.4028234663852886e38, "the output type Float32 cannot hold the no-data value 1.0000000000000001e+300: the output's no-data value is -3.4028234663852886e+38 instead"},
  };
  for (const auto& [type, nodata, lo, hi, gap, masked, extra, out_nodata, message] : cases) {
    SCOPED_TRACE(message + (extra.size() > 2 ? " (tiles)" : ""));
    TempDir tmp;
    std::vector<double> v, in;
    for (double x = lo; x <= hi; ++x) v.push_back(x == gap ? x + 1 : x), in.push_back(1);
    if (masked) v.push_back(100), in.push_back(0);
    write_tif(tmp / "src.tif", type, 1, static_cast<int>(v.size()), v, nodata);
    write_tif(tmp / "in.tif", "Byte", 1, static_cast<int>(v.size()), in, std::nullopt);
    Args args = {tmp / "src.tif", tmp / "out.tif", "-i", "1", "-q"};
    if (masked) args.insert(args.end(), {"--mask", tmp / "in.tif"});
    args.insert(args.end(), extra.begin(), extra.end());
    const ProcessResult r = tesk(args);
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    const bool written = out_nodata || !masked;
    EXPECT_EQ(r.status, written ? 0 : 1);
    if (!written) continue;
    const Raster o = read_raster(tmp / "out.tif");
    if (masked) v.back() = *out_nodata;
    EXPECT_EQ(std::tuple(o.v, o.has_nodata, o.nodata), std::tuple(v, out_nodata.has_value(), out_nodata.value_or(o.nodata)));
  }
}

// On a geographic grid the hillshade takes the degrees as 111120 m, as
// gdaldem -s 111120 does, and --hillshade-z exaggerates the relief.
TEST(BatchOutputs, HillshadeOnAGeographicGridAgreesWithGdaldem) {
  TempDir tmp;
  gdal_tool({"gdal_translate", "-q", "-a_srs", "EPSG:4326", "-a_ullr", "-84.2", "36.4", "-83.864", "36.114", kSrc, tmp / "geo.tif"});
  ASSERT_EQ(tesk({tmp / "geo.tif", tmp / "dem.tif", "-i", "20", "-q", "--hillshade", tmp / "hs.png", "--hillshade-z", "2"}).status, 0);
  gdal_tool({"gdaldem", "hillshade", "-q", "-s", "111120", "-z", "2", tmp / "dem.tif", tmp / "ref.tif"});
  const Raster hs = read_raster(tmp / "hs.png"), ref = read_raster(tmp / "ref.tif");
  ASSERT_EQ(hs.v.size(), ref.v.size());
  double worst = 0, sum = 0;
  for (std::size_t i = 0; i < hs.v.size(); ++i) worst = std::max(worst, std::abs(hs.v[i] - ref.v[i])), sum += ref.v[i];
  EXPECT_LE(worst, 1);
  EXPECT_GT(sum / ref.v.size(), 100);  // lit, not saturated black
  EXPECT_EQ(tesk({tmp / "geo.tif", tmp / "x.tif", "-i", "20", "--hillshade-z", "0"}).err, "tesk: --hillshade-z must be a number above 0\n");
}

}  // namespace
}  // namespace tesk::e2e

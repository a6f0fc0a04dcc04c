#!/usr/bin/env python3
"""The whole command line, from the contour raster to the written DEM, with each way of writing the GeoTIFF,
against gdal_fillnodata.py on the same raster.

    python3 bench/command_bench.py [--tesk build/release/tesk] [--runs 5] SOURCE...

SOURCE: a contour raster (UInt16, no-data 65500, interval 10), or gen:N for the N x N raster that
bench/python_bench.py generates.  Each round runs every configuration once, in turn (the order reversed
every other round), so that the machine's drift falls on all alike; prints the best time of each, the DEM's
size, and the ratio to the uncompressed write (the baseline of the write's cost) and to gdal_fillnodata.py
-md DIAGONAL -si 0 on the raster converted to Float32, with its default (uncompressed) output.
"""
import argparse
import math
import os
import pathlib
import subprocess
import sys
import tempfile
import time

from osgeo import gdal

gdal.UseExceptions()
CONFIGS = {
    "default (DEFLATE 1, predictor 3)": [],
    "-co COMPRESS=NONE": ["-co", "COMPRESS=NONE"],
    "DEFLATE 6, predictor 3": ["-co", "ZLEVEL=6"],
    "ZSTD 1, predictor 3": ["-co", "COMPRESS=ZSTD", "-co", "ZSTD_LEVEL=1"],
    "LZW, predictor 3": ["-co", "COMPRESS=LZW"],
}


def source(source_name, tmp):
    if not source_name.startswith("gen:"):
        return pathlib.Path(source_name)
    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
    from python_bench import contours
    n = int(source_name[4:])
    path = tmp / f"gen{n}.tif"
    ds = gdal.GetDriverByName("GTiff").Create(str(path), n, n, 1, gdal.GDT_UInt16, ["TILED=YES", "COMPRESS=DEFLATE"])
    ds.GetRasterBand(1).WriteArray(contours(n))
    ds.GetRasterBand(1).SetNoDataValue(65500)
    ds = None
    return path


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tesk", default="build/release/tesk")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("sources", nargs="+")
    a = ap.parse_args()
    with tempfile.TemporaryDirectory() as d:
        tmp = pathlib.Path(d)
        for source_name in a.sources:
            src = source(source_name, tmp)
            info = gdal.Open(str(src))
            diagonal = math.ceil(math.hypot(info.RasterXSize, info.RasterYSize))
            f32 = tmp / "f32.tif"
            gdal.Translate(str(f32), str(src), outputType=gdal.GDT_Float32)
            runs = {name: [a.tesk, str(src), str(tmp / f"{k}.tif"), "-i", "10", "-m", "3", "-q", "--overwrite", *opts]
                    for k, (name, opts) in enumerate(CONFIGS.items())}
            runs["gdal_fillnodata.py"] = ["gdal_fillnodata.py", "-q", "-md", str(diagonal), "-si", "0", str(f32),
                                          str(tmp / "fill.tif")]
            best = {name: math.inf for name in runs}
            for r in range(a.runs):
                for name in (list(runs) if r % 2 == 0 else list(reversed(runs))):
                    (tmp / "fill.tif").unlink(missing_ok=True)
                    t = time.perf_counter()
                    subprocess.run(runs[name], check=True)
                    best[name] = min(best[name], time.perf_counter() - t)
            none, fill = best["-co COMPRESS=NONE"], best["gdal_fillnodata.py"]
            print(f"\n{source_name}: {info.RasterXSize} x {info.RasterYSize}, best of {a.runs}")
            print(f"| {'run':36s} | time (s) | size (MB) | / uncompressed | / gdal_fillnodata |")
            print(f"|{'-' * 38}|---------:|----------:|---------------:|------------------:|")
            for k, name in enumerate(runs):
                out = tmp / ("fill.tif" if name == "gdal_fillnodata.py" else f"{k}.tif")
                size = os.path.getsize(out) / 1e6
                print(f"| {name:36s} | {best[name]:8.3f} | {size:9.1f} | {best[name] / none:14.2f} | "
                      f"{best[name] / fill:17.2f} |")


if __name__ == "__main__":
    main()

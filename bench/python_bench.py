#!/usr/bin/env python3
"""tesk.fill against the command line on the same generated contour raster, and how fast a run stops.

    PYTHONPATH=build/release/python python3 bench/python_bench.py [--size 4096] [--tesk build/release/tesk]

The raster: a sum of Gaussian hills (one per 120 x 120 pixels, as the C++ benchmark's generator), a contour
pixel wherever the terrain crosses a multiple of 10 m between a pixel and its right or lower neighbour,
UInt16 GeoTIFF with no-data 65500.  Interval 10, window 3, overlay on, every core.  Prints the best of three
runs of the command line (reading the GeoTIFF, computing, writing a GeoTIFF) and of GDAL's reading, tesk.fill
and GDAL's writing in Python; then, for requests at several points of a run, the time from the request to
the return of tesk.fill: a KeyboardInterrupt raised by the progress callback, and a SIGINT from another
thread (which the waiting thread sees within its 50 ms poll).
"""
import argparse
import os
import signal
import subprocess
import tempfile
import threading
import time

import numpy as np
from osgeo import gdal

import tesk

gdal.UseExceptions()


def contours(n, seed=1):
    rng = np.random.default_rng(seed)
    z = np.zeros((n, n))
    for _ in range(max(1, (n // 120) ** 2)):
        cy, cx = rng.uniform(0, n, 2)
        s, h = rng.uniform(15, 60), rng.uniform(20, 300)
        r = int(3 * s)
        y0, y1, x0, x1 = max(0, int(cy) - r), min(n, int(cy) + r), max(0, int(cx) - r), min(n, int(cx) + r)
        y, x = np.ogrid[y0:y1, x0:x1]
        z[y0:y1, x0:x1] += h * np.exp(-((y - cy) ** 2 + (x - cx) ** 2) / (2 * s * s))
    k = np.floor(z / 10).astype(np.int64)
    line = np.zeros((n, n), bool)
    line[:, :-1] |= k[:, :-1] != k[:, 1:]
    line[:-1, :] |= k[:-1, :] != k[1:, :]
    return np.where(line, k * 10, 65500).astype(np.uint16)


def best(f, runs=3):
    times = []
    for _ in range(runs):
        t = time.perf_counter()
        f()
        times.append(time.perf_counter() - t)
    return min(times)


def stop_after(make_request, source):
    """Time from the request made through make_request() to fill's return (None: the run ended first)."""
    finished = threading.Event()
    try:
        tesk.fill(source, interval=10, nodata=65500, window=3, progress=make_request(finished))
        finished.set()
        return None
    except KeyboardInterrupt:
        return time.perf_counter() - asked[0]


asked = [0.0]


def from_progress(at):
    def make(finished):
        def progress(f):
            if f >= at:
                asked[0] = time.perf_counter()
                raise KeyboardInterrupt
        return progress
    return make


def from_signal(delay):
    def make(finished):
        main_id = threading.get_ident()

        def kill():
            if not finished.wait(delay):
                asked[0] = time.perf_counter()
                signal.pthread_kill(main_id, signal.SIGINT)
        threading.Thread(target=kill, daemon=True).start()
        return None
    return make


def shown(times):
    return ", ".join("-" if t is None else f"{t * 1000:.1f}" for t in times) + " ms"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--size", type=int, default=4096)
    ap.add_argument("--tesk", default="build/release/tesk")
    a = ap.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        src, out = os.path.join(tmp, "c.tif"), os.path.join(tmp, "dem.tif")
        raster = contours(a.size)
        ds = gdal.GetDriverByName("GTiff").Create(src, a.size, a.size, 1, gdal.GDT_UInt16, ["TILED=YES", "COMPRESS=DEFLATE"])
        ds.GetRasterBand(1).SetNoDataValue(65500)
        ds.GetRasterBand(1).WriteArray(raster)
        ds = None
        print(f"{a.size} x {a.size}, {np.mean(raster != 65500) * 100:.1f} % contour pixels, {os.cpu_count()} cores")
        cli = best(lambda: subprocess.run([a.tesk, "-q", "--overwrite", "-i", "10", "-m", "3", src, out], check=True))
        read = best(lambda: gdal.Open(src).ReadAsArray())
        dem = tesk.fill(raster, interval=10, nodata=65500, window=3)
        fill = best(lambda: tesk.fill(raster, interval=10, nodata=65500, window=3))

        def write():
            d = gdal.GetDriverByName("GTiff").Create(out, a.size, a.size, 1, gdal.GDT_Float32, ["TILED=YES", "COMPRESS=DEFLATE"])
            d.GetRasterBand(1).SetNoDataValue(65500)
            d.GetRasterBand(1).WriteArray(dem)
        write_t = best(write)
        print(f"command line (read, compute, write): {cli:.3f} s")
        print(f"Python: GDAL read {read:.3f} s + tesk.fill {fill:.3f} s + GDAL write {write_t:.3f} s = "
              f"{read + fill + write_t:.3f} s")

        p = [stop_after(from_progress(x), raster) for x in (0.05, 0.2, 0.4, 0.6, 0.86)]
        points = (0.1, 0.3, 0.5, 0.7, 0.8)
        s = [stop_after(from_signal(x * fill), raster) for x in points]
        print("request to return, progress raising KeyboardInterrupt at 5, 20, 40, 60, 86 %: " + shown(p))
        print("request to return, SIGINT at " + ", ".join(f"{int(x * 100)}" for x in points) + " % of a run's time: "
              + shown(s))


if __name__ == "__main__":
    main()

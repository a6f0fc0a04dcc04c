#!/usr/bin/env python3
"""tesk.fill over dask blocks on a LocalCluster against tesk.fill of the whole array in memory.

    PYTHONPATH=build/release/python python3 bench/dask_bench.py [--size 4096] [--chunks 512 1024] [--workers 2]

Rasters: the demo raster (interval 20, window 3) in blocks of 64 and 128, and the generated raster of
python_bench.py (interval 10, window 3) in the blocks asked for.  For each: the time of tesk.fill in memory
(every core), the time of tesk.fill over blocks until the result is persisted on the workers (one thread each),
the halo estimated from the survey, the blocks, the blocks run again with a larger halo, and whether the result
equals the whole run bit for bit.
"""
import argparse
import logging
import pathlib
import re
import time

import dask.array as da
import numpy as np
import rioxarray
from dask.distributed import Client, LocalCluster

import tesk
from tesk.dask import fill_dask
from python_bench import contours

DEMO = pathlib.Path(__file__).resolve().parents[1] / "images" / "demo" / "jacksboro_i20_c.tif"


class Redone(logging.Handler):
    def __init__(self):
        super().__init__()
        self.halos = []

    def emit(self, record):
        m = re.search(r"(\d+) of (\d+) blocks not proven with a halo of (\d+)", record.getMessage())
        self.halos.append((int(m[1]), int(m[2]), int(m[3])))


def measure(name, a, nodata, interval, chunks):
    t = time.perf_counter()
    whole = tesk.fill(a, interval=interval, nodata=nodata, window=3)
    t_whole = time.perf_counter() - t
    for c in chunks:
        handler = Redone()
        logging.getLogger("tesk").addHandler(handler)
        blocks = da.from_array(a, chunks=c)
        t = time.perf_counter()
        dem, _, first, _ = fill_dask(blocks, interval=interval, nodata=nodata, window=3, overlay=True, dtype=None)
        t_blocks = time.perf_counter() - t
        logging.getLogger("tesk").removeHandler(handler)
        same = np.array_equal(dem.compute().view(np.uint32), whole.view(np.uint32))
        n = dem.numblocks[0] * dem.numblocks[1]
        again = handler.halos[0][0] if handler.halos else 0
        print(f"{name} {a.shape[0]}x{a.shape[1]} chunks {c}: in memory {t_whole:.2f} s, blocks {t_blocks:.2f} s; "
              f"first halo {first}, blocks {n} (after merging), run again {again}, "
              f"halos of the reruns {[h for _, _, h in handler.halos]}, equal {same}", flush=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--size", type=int, default=4096)
    ap.add_argument("--chunks", type=int, nargs="+", default=[512, 1024])
    ap.add_argument("--workers", type=int, default=2)
    args = ap.parse_args()
    logging.getLogger("tesk").setLevel(logging.INFO)
    with LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True, dashboard_address=None) as cl, \
            Client(cl):
        measure("demo", rioxarray.open_rasterio(DEMO).values[0], 65500, 20, [64, 128])
        measure("generated", contours(args.size), 65500, 10, args.chunks)


if __name__ == "__main__":
    main()

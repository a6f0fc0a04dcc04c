#!/usr/bin/env python3
"""tesk.fill over dask blocks on a LocalCluster against tesk.fill of the same array in memory (numpy).

    PYTHONPATH=build/release/python python3 bench/dask_bench.py [--size 4096] [--chunks 1024 2048] [--workers 2] [--rounds 2]
                                                                [--no-demo] [--halo N] [--persisted] [--timeline]

Rasters: the demo raster (interval 20, window 3) in blocks of 64 and 128, and the generated raster of
python_bench.py (interval 10, window 3) in the blocks asked for.  Each round times tesk.fill in memory (every
core) and then tesk.fill over blocks until the result is persisted on the workers (one thread each); the table
keeps the best of the rounds and prints the ratio, the halo estimated from the survey, the blocks run again with
a larger halo and their halos, the most blocks that ran at once on the workers (from dask's task stream: 2 when
the 2 worker processes run blocks side by side), and whether the result equals the whole run bit for bit.
With --persisted each round also runs the blocks on the same array already persisted on the workers before the
clock starts: the time that leaves out shipping the input from the client (which the blocks' path pays twice,
for the survey and for the blocks), a bound on what the blocks' own work costs.  With --timeline, when each kind
of task ran in the best round, from dask's task stream: the survey, the holes' values, the transfers, the blocks.
"""
import argparse
import logging
import pathlib
import re
import time

import dask.array as da
import numpy as np
import rioxarray
from dask.distributed import Client, LocalCluster, get_task_stream, wait

import tesk
from tesk._blocks import fill_dask
from python_bench import contours

DEMO = pathlib.Path(__file__).resolve().parents[1] / "images" / "demo" / "jacksboro_i20_c.tif"


class Redone(logging.Handler):
    def __init__(self):
        super().__init__()
        self.halos = []

    def emit(self, record):
        m = re.search(r"(\d+) of \d+ blocks not proven, run again: (\d+) by the box .*, (\d+) whole, with halos "
                      r"\[([\d, ]*)\]", record.getMessage())
        if m is None:  # a build before the retries by block: "N of M blocks not proven with a halo of H"
            m = re.search(r"(\d+) of \d+ blocks not proven with a halo of (\d+)", record.getMessage())
            if m is not None:
                self.halos.append((int(m[1]), f"{m[1]} at {m[2]}"))
            return
        self.halos.append((int(m[1]), f"{m[2]} boxes + {m[3]} whole at {m[4]}"))


def most_at_once(tasks):
    """The most tasks of the block runs whose times overlap (dask's task stream records)."""
    edges = []
    for t in tasks:
        if "_tile_block" not in t["key"] and "_tile-" not in t["key"]:
            continue
        for s in t["startstops"]:
            if s["action"] == "compute":
                edges += [(s["start"], 1), (s["stop"], -1)]
    most = now = 0
    for _, d in sorted(edges):
        now += d
        most = max(most, now)
    return most


def phases(tasks, t0):
    """Per kind of task (the name of its key) and action (compute, transfer): the first start, the last stop
    and the time of all of them, in seconds from t0 (dask's task stream records)."""
    spans = {}
    for t in tasks:
        name = re.match(r"[\('\" ]*([A-Za-z_]+)", str(t["key"])).group(1)
        for s in t["startstops"]:
            a, b = s["start"] - t0, s["stop"] - t0
            lo, hi, total = spans.get((name, s["action"]), (a, b, 0.0))
            spans[name, s["action"]] = (min(lo, a), max(hi, b), total + b - a)
    return spans


def on_workers(a, chunks, **kw):
    """The time of fill_dask over a with its input persisted on the workers before the clock starts."""
    blocks = da.from_array(a, chunks=chunks).persist()
    wait(blocks)
    t = time.perf_counter()
    dem = fill_dask(blocks, overlay=True, dtype=None, **kw)[0]
    elapsed = time.perf_counter() - t
    del dem, blocks
    return elapsed


def measure(name, a, nodata, interval, chunks, rounds, halo=None, persisted=False, timeline=False):
    best_whole, rows, held, spans = None, {}, {}, {}
    for _ in range(rounds):
        t = time.perf_counter()
        whole = tesk.fill(a, interval=interval, nodata=nodata, window=3)
        best_whole = min(best_whole or 1e9, time.perf_counter() - t)
        for c in chunks:
            handler = Redone()
            logging.getLogger("tesk").addHandler(handler)
            blocks = da.from_array(a, chunks=c)
            with get_task_stream() as ts:
                t, t0 = time.perf_counter(), time.time()
                dem, _, first, _ = fill_dask(blocks, interval=interval, nodata=nodata, window=3, overlay=True,
                                             dtype=None, halo=halo)
                wait(dem)
                t_blocks = time.perf_counter() - t
            logging.getLogger("tesk").removeHandler(handler)
            same = np.array_equal(dem.compute().view(np.uint32), whole.view(np.uint32))
            n = dem.numblocks[0] * dem.numblocks[1]
            again = handler.halos[0][0] if handler.halos else 0
            row = rows.get(c)
            if row is None or t_blocks < row[0]:
                rows[c] = (t_blocks, first, n, again, [h for _, h in handler.halos], most_at_once(ts.data), same)
                spans[c] = phases(ts.data, t0)
            # The persisted result let go before the next round: its keys are the next round's, which would
            # otherwise find some of their results already on the workers.
            del dem
            if persisted:
                t = on_workers(a, c, interval=interval, nodata=nodata, window=3, halo=halo)
                held[c] = min(held.get(c, t), t)
    for c, (t_blocks, first, n, again, halos, most, same) in rows.items():
        on = f" {held[c]:.2f} s ({held[c] / best_whole:.2f}x) |" if persisted else ""
        print(f"| {name} {a.shape[0]}x{a.shape[1]} | {c} | {best_whole:.2f} s | {t_blocks:.2f} s | "
              f"{t_blocks / best_whole:.2f}x |{on} {first} | {n} | {again} {'; '.join(halos)} | {most} | {same} |",
              flush=True)
    for c in spans if timeline else ():
        print(f"\n{name}, chunks of {c}, the best round's tasks (seconds from the call; their time summed):")
        for (kind, action), (lo, hi, total) in sorted(spans[c].items(), key=lambda kv: kv[1][0]):
            if total >= 0.01:
                print(f"  {kind:24s} {action:9s} {lo:5.2f} to {hi:5.2f}  ({total:.2f} s)")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--size", type=int, default=4096)
    ap.add_argument("--chunks", type=int, nargs="+", default=[1024, 2048])
    ap.add_argument("--workers", type=int, default=2)
    ap.add_argument("--rounds", type=int, default=2)
    ap.add_argument("--no-demo", action="store_true")
    ap.add_argument("--halo", type=int, help="the first halo of the generated raster's blocks (default: estimated)")
    ap.add_argument("--timeline", action="store_true",
                    help="print when each kind of task ran in the best round (dask's task stream)")
    ap.add_argument("--persisted", action="store_true",
                    help="also time the blocks with the input already persisted on the workers")
    args = ap.parse_args()
    logging.getLogger("tesk").setLevel(logging.INFO)
    with LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True, dashboard_address=None) as cl, \
            Client(cl):
        print(f"{args.workers} worker processes of one thread each, best of {args.rounds}")
        held = " input on the workers |" if args.persisted else ""
        print(f"| raster | chunks | numpy fill | blocks | ratio |{held} first halo | blocks | run again (halos) "
              "| most at once | equal |")
        print("|---|---|---|---|---|" + "---|" * bool(held) + "---|---|---|---|---|")
        if not args.no_demo:
            measure("demo", rioxarray.open_rasterio(DEMO).values[0], 65500, 20, [64, 128], args.rounds,
                    persisted=args.persisted)
        measure("generated", contours(args.size), 65500, 10, args.chunks, args.rounds, args.halo, args.persisted,
                args.timeline)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""The spline as a whole command, against the classic command and SAGA's multilevel B-spline, side by side.

    python3 bench/spline_command_bench.py [--tesk build/release/tesk] [--runs 3] [--threads 2]
                                          [--install-saga] SOURCE...

SOURCE: a contour raster (UInt16, no-data 65500) of interval 10, GeoTIFF.  Each round runs, in turn (the order
reversed every other round, so that the machine's drift falls on all alike):
  classic  tesk SOURCE OUT.tif -i 10 -m 3
  spline   tesk SOURCE OUT.tif -i 10 --method spline      (the choice of lambda included)
  SAGA     saga_cmd grid_spline 5 on a Float32 copy of SOURCE (the copy made once, before the rounds; SAGA
           misreads the UInt16 raster), the target grid the input's own
and prints the best wall time of each, with spline / classic (the target: at most 4) and SAGA / spline (the
target: at least 4).  SAGA is skipped when saga_cmd is missing, unless --install-saga installs it with apt-get.
"""
import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time


def saga_available(install):
    if shutil.which("saga_cmd"):
        return True
    if not install:
        print("saga_cmd is missing: SAGA skipped (--install-saga installs it with apt-get)", file=sys.stderr)
        return False
    installed = subprocess.run(["dpkg", "-s", "saga"], capture_output=True).returncode == 0
    if not installed:
        sudo = [] if os.geteuid() == 0 else ["sudo"]
        subprocess.run(sudo + ["apt-get", "update", "-qq"], check=True)
        subprocess.run(sudo + ["apt-get", "install", "-y", "-qq", "--no-install-recommends", "saga"], check=True)
    return shutil.which("saga_cmd") is not None


def timed(cmd):
    t0 = time.perf_counter()
    done = subprocess.run(cmd, capture_output=True, text=True)
    elapsed = time.perf_counter() - t0
    if done.returncode != 0:
        sys.exit(f"{' '.join(map(str, cmd))} failed:\n{done.stderr}{done.stdout}")
    return elapsed


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--tesk", default="build/release/tesk")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--threads", type=int, default=2)
    ap.add_argument("--install-saga", action="store_true")
    ap.add_argument("sources", nargs="+")
    a = ap.parse_args()
    saga = saga_available(a.install_saga)
    print(f"{'source':28s} {'classic_s':>9s} {'spline_s':>9s} {'saga_s':>9s} {'spline/classic':>15s} "
          f"{'saga/spline':>12s}")
    with tempfile.TemporaryDirectory() as tmp_name:
        tmp = pathlib.Path(tmp_name)
        for src in a.sources:
            out = tmp / "out.tif"
            tesk = [a.tesk, src, str(out), "-i", "10", "-q", "--overwrite", "--threads", str(a.threads)]
            configs = {"classic": tesk + ["-m", "3"], "spline": tesk + ["--method", "spline"]}
            if saga:
                f32 = tmp / "contours_f32.tif"
                subprocess.run(["gdal_translate", "-q", "-ot", "Float32", src, str(f32)], check=True)
                configs["saga"] = ["saga_cmd", "grid_spline", "5", "-GRID", str(f32), "-TARGET_DEFINITION", "1",
                                   "-TARGET_TEMPLATE", str(f32), "-TARGET_OUT_GRID", str(tmp / "saga.sdat")]
            best = {name: float("inf") for name in configs}
            for r in range(a.runs):
                names = list(configs) if r % 2 == 0 else list(reversed(configs))
                for name in names:
                    best[name] = min(best[name], timed(configs[name]))
            saga_s = best.get("saga")
            print(f"{pathlib.Path(src).name:28s} {best['classic']:9.2f} {best['spline']:9.2f} "
                  f"{saga_s if saga_s is not None else float('nan'):9.2f} {best['spline'] / best['classic']:15.2f} "
                  f"{(saga_s / best['spline']) if saga_s is not None else float('nan'):12.2f}", flush=True)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""The QGIS algorithm tesk:contourstodem against the command line, on python_bench.py's raster.

    PYTHONPATH=build/release/python /usr/bin/python3 bench/qgis_bench.py [--size 4096] [--tesk build/release/tesk]

Interval 10, window 3, every core, best of three.  Times the command line; qgis_process running the
algorithm, and qgis_process running nothing but its start (``qgis_process.bin help native:buffer``: QGIS,
Processing and the plugins loaded), whose difference is the algorithm's own time; the algorithm through
PyQGIS's processing.run in this process; and, for cancels asked from the feedback at several points of a
run, the time from the request to processing.run's return.  QGIS runs headless in a temporary profile.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time

from osgeo import gdal

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from python_bench import best, contours  # noqa: E402 - the same raster

gdal.UseExceptions()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--size", type=int, default=4096)
    ap.add_argument("--tesk", default="build/release/tesk")
    a = ap.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        os.mkdir(os.path.join(tmp, "run"), 0o700)
        os.environ.update(HOME=tmp, XDG_DATA_HOME=os.path.join(tmp, "data"), XDG_RUNTIME_DIR=os.path.join(tmp, "run"),
                          QT_QPA_PLATFORM="offscreen")
        subprocess.run([sys.executable, "-m", "tesk.qgis", "install"], check=True, capture_output=True)
        src, out = os.path.join(tmp, "c.tif"), os.path.join(tmp, "dem.tif")
        ds = gdal.GetDriverByName("GTiff").Create(src, a.size, a.size, 1, gdal.GDT_UInt16,
                                                  ["TILED=YES", "COMPRESS=DEFLATE"])
        ds.GetRasterBand(1).SetNoDataValue(65500)
        ds.GetRasterBand(1).WriteArray(contours(a.size))
        ds = None
        run = lambda *args: subprocess.run(args, check=True, capture_output=True)
        cli = best(lambda: run(a.tesk, "-q", "--overwrite", "-i", "10", "-m", "3", src, out))
        qp = best(lambda: run("qgis_process.bin", "run", "tesk:contourstodem", "--", f"INPUT={src}", "INTERVAL=10",
                              "WINDOW=3", f"OUTPUT={out}"))
        start = best(lambda: run("qgis_process.bin", "help", "native:buffer"))

        from qgis.core import QgsApplication, QgsProcessingException, QgsProcessingFeedback
        app = QgsApplication([], False)
        app.initQgis()
        plugins = os.path.join(tmp, "data", "QGIS", "QGIS3", "profiles", "default", "python", "plugins")
        sys.path[:0] = ["/usr/share/qgis/python/plugins", plugins]
        from processing.core.Processing import Processing
        Processing.initialize()
        import processing
        import tesk_processing
        plugin = tesk_processing.classFactory(None)
        plugin.initProcessing()
        params = {"INPUT": src, "INTERVAL": 10, "WINDOW": 3, "OUTPUT": out}
        inproc = best(lambda: processing.run("tesk:contourstodem", params))

        def cancel_at(percent):
            feedback, asked = QgsProcessingFeedback(), []

            def watch(p):
                if p >= percent and not asked:
                    asked.append(time.perf_counter())
                    feedback.cancel()
            feedback.progressChanged.connect(watch)
            try:
                processing.run("tesk:contourstodem", params, feedback=feedback)
            except QgsProcessingException:
                return time.perf_counter() - asked[0]
        cancels = [cancel_at(p) for p in (5, 20, 40, 60, 90)]
        print(f"{a.size} x {a.size}, interval 10, window 3, {os.cpu_count()} cores, best of 3")
        print(f"command line: {cli:.3f} s")
        print(f"qgis_process run tesk:contourstodem: {qp:.3f} s, of which QGIS's start {start:.3f} s: "
              f"algorithm {qp - start:.3f} s")
        print(f"processing.run in PyQGIS: {inproc:.3f} s")
        print("cancel from the feedback at 5, 20, 40, 60, 90 %, request to return: "
              + ", ".join("-" if t is None else f"{t * 1000:.0f}" for t in cancels) + " ms")


if __name__ == "__main__":
    main()

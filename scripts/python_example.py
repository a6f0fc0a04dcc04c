#!/usr/bin/env python3
"""From Python: the demo contours of the Jacksboro area turned into a DEM with tesk.fill, written as a
GeoTIFF with the source's georeferencing, and a figure of the contours, the DEM and its difference from
the true elevation model, side by side.

    python3 scripts/python_example.py OUTPUT_DIR

writes OUTPUT_DIR/jacksboro_dem.tif and OUTPUT_DIR/python_example.png.
"""
import pathlib
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np
from osgeo import gdal

import tesk

gdal.UseExceptions()
demo = pathlib.Path(__file__).resolve().parent.parent / "images" / "demo"
out = pathlib.Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)

# The contours: a UInt16 band whose no-data value marks the pixels off the lines.
src = gdal.Open(str(demo / "jacksboro_i20_c.tif"))
band = src.GetRasterBand(1)
contours = band.ReadAsArray()
nodata = band.GetNoDataValue()
dem = tesk.fill(contours, interval=20, nodata=nodata, window=3)

# The DEM, on the source's grid.
dst = gdal.GetDriverByName("GTiff").Create(str(out / "jacksboro_dem.tif"), src.RasterXSize, src.RasterYSize, 1,
                                           gdal.GDT_UInt16, ["COMPRESS=DEFLATE"])
dst.SetGeoTransform(src.GetGeoTransform())
dst.SetProjection(src.GetProjection())
dst.GetRasterBand(1).WriteArray(dem)
dst = None

# Contours, DEM and the difference from the truth.
truth = gdal.Open(str(demo / "jacksboro_true.tif")).ReadAsArray().astype(np.float64)
diff = dem - truth
fig, axes = plt.subplots(1, 3, figsize=(15, 4.4), constrained_layout=True)
lo, hi = truth.min(), truth.max()
panels = [(np.ma.masked_equal(contours, nodata), "terrain", lo, hi, "contours at 20 m"),
          (dem, "terrain", lo, hi, "tesk.fill, window 3"),
          (diff, "RdBu_r", -30, 30, f"DEM - true DEM (RMSE {np.sqrt(np.mean(diff ** 2)):.1f} m)")]
for ax, (image, cmap, vmin, vmax, title) in zip(axes, panels):
    shown = ax.imshow(image, cmap=cmap, vmin=vmin, vmax=vmax, interpolation="nearest")
    ax.set_title(title)
    ax.set_axis_off()
    fig.colorbar(shown, ax=ax, shrink=0.8, label="m")
fig.savefig(out / "python_example.png", dpi=60)
print(f"{out / 'jacksboro_dem.tif'}: {dem.shape[0]} x {dem.shape[1]}, RMSE {np.sqrt(np.mean(diff ** 2)):.2f} m")

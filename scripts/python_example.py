#!/usr/bin/python3
"""From Python: the demo contours of the Jacksboro area read with rioxarray, turned into a DEM with tesk.fill,
written as a GeoTIFF with the source's georeferencing, and a figure of the contours, the DEM and its difference
from the true elevation model, side by side.

    python3 scripts/python_example.py OUTPUT_DIR

writes OUTPUT_DIR/jacksboro_dem.tif and OUTPUT_DIR/python_example.png.
"""
import pathlib
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np
import rioxarray

import tesk

demo = pathlib.Path(__file__).resolve().parent.parent / "images" / "demo"
out = pathlib.Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)

# The contours (a UInt16 band, its no-data value off the lines) in, the DEM out: float32 at full resolution
# with the source's CRS and transform, as the command line writes it.
contours = rioxarray.open_rasterio(demo / "jacksboro_i20_c.tif")
dem = tesk.fill(contours, interval=20, window=3)
dem.rio.to_raster(out / "jacksboro_dem.tif")

# Contours, DEM and the difference from the truth.
truth = rioxarray.open_rasterio(demo / "jacksboro_true.tif").squeeze().values.astype(np.float64)
diff = dem.squeeze().values - truth
fig, axes = plt.subplots(1, 3, figsize=(15, 4.4), constrained_layout=True)
lo, hi = truth.min(), truth.max()
panels = [(np.ma.masked_equal(contours.squeeze().values, contours.rio.nodata), "terrain", lo, hi, "contours at 20 m"),
          (dem.squeeze(), "terrain", lo, hi, "tesk.fill, window 3"),
          (diff, "RdBu_r", -30, 30, f"DEM - true DEM (RMSE {np.sqrt(np.mean(diff ** 2)):.1f} m)")]
for ax, (image, cmap, vmin, vmax, title) in zip(axes, panels):
    shown = ax.imshow(image, cmap=cmap, vmin=vmin, vmax=vmax, interpolation="nearest")
    ax.set_title(title)
    ax.set_axis_off()
    fig.colorbar(shown, ax=ax, shrink=0.8, label="m")
fig.savefig(out / "python_example.png", dpi=60)
print(f"{out / 'jacksboro_dem.tif'}: {dem.shape[-2]} x {dem.shape[-1]}, RMSE {np.sqrt(np.mean(diff ** 2)):.2f} m")

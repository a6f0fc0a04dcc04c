"""Puts hillshades side by side, each under its label, in one PNG.

    accuracy_montage.py OUT.png LABEL=RASTER ...

Each raster (an 8-bit hillshade, as gdaldem writes it) is shown pixel for
pixel, in grey: up to three panels in a row, four in two rows of two.  The
picture is written as an 8-bit grey PNG.  Run by scripts/accuracy_table.sh.
"""
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
from osgeo import gdal  # noqa: E402
from PIL import Image  # noqa: E402


def main(out, panels):
    images = []
    for panel in panels:
        label, path = panel.split("=", 1)
        ds = gdal.Open(path)
        images.append((label, ds.GetRasterBand(1).ReadAsArray()))
        ds = None
    height, width = images[0][1].shape
    cols = 2 if len(images) == 4 else len(images)
    rows = (len(images) + cols - 1) // cols
    title = 28  # pixels of label above each panel
    dpi = 100
    fig = plt.figure(figsize=(cols * width / dpi, rows * (height + title) / dpi), dpi=dpi)
    for i, (label, image) in enumerate(images):
        r, c = divmod(i, cols)
        # Axes in figure fractions, from the bottom left: one pixel of the
        # raster to one pixel of the picture.
        left = c * width / (cols * width)
        bottom = 1 - ((r + 1) * (height + title)) / (rows * (height + title))
        ax = fig.add_axes([left, bottom, width / (cols * width), height / (rows * (height + title))])
        ax.imshow(image, cmap="gray", vmin=0, vmax=255, interpolation="nearest")
        ax.set_axis_off()
        fig.text(left + 0.5 / cols, bottom + height / (rows * (height + title)) + 4 / (rows * (height + title)),
                 label, ha="center", va="bottom", fontsize=14)
    fig.canvas.draw()
    grey = np.asarray(fig.canvas.buffer_rgba())[:, :, 0]  # the picture is grey: R = G = B
    Image.fromarray(np.ascontiguousarray(grey), "L").save(out, optimize=True)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2:])

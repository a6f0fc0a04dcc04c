"""tesk.fill on dask-backed DataArrays, computed on a cluster of worker processes: the bytes of the numpy path."""
import logging
import os
import pathlib

import numpy as np
import pytest
import rioxarray

import tesk

distributed = pytest.importorskip("dask.distributed")
SRC = pathlib.Path(os.environ.get("TESK_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2])) / "images" / "demo" / "jacksboro_i20_c.tif"


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            distributed.Client(cluster) as c:
        yield c


def same_bits(a, b):
    return a.dtype == b.dtype and np.array_equal(a.view(f"u{a.itemsize}"), b.view(f"u{b.itemsize}"))


@pytest.mark.parametrize("chunks, halo, max_halo, dtype, redone", [
    (64, None, 2**40, None, None),  # the halo estimated from the survey (16: a few run again at 32); no bound
    (100, 2, None, np.int16, True),  # too small a first halo: blocks run again with a doubled one
    (128, 2, 4, None, "rows 0 to 127, columns 0 to 127"),  # refused at max_halo, naming the block
    (128, 2, 4, None, "kept")])  # or kept, with a warning that names them
def test_blocks_on_a_cluster_equal_the_whole_run(client, tmp_path, caplog, chunks, halo, max_halo, dtype, redone):
    whole = tesk.fill(rioxarray.open_rasterio(SRC), interval=20, window=3, dtype=dtype)
    blocks = rioxarray.open_rasterio(SRC, chunks={"x": chunks, "y": chunks})
    caplog.set_level(logging.INFO, logger="tesk")
    if redone == "kept":
        with pytest.warns(UserWarning, match=r"pixels in \d+ tiles are kept .* \(accept_uncertain=True\): rows 0 to"):
            tesk.fill(blocks, interval=20, window=3, halo=halo, max_halo=max_halo, accept_uncertain=True)
        return
    if isinstance(redone, str):
        with pytest.raises(ValueError, match=rf"{redone} cannot be proven .* halo of 4 pixels, the largest allowed "
                                             r"\(max_halo=4\).*add accept_uncertain=True"):
            tesk.fill(blocks, interval=20, window=3, halo=halo, max_halo=max_halo)
        return
    dem = tesk.fill(blocks, interval=20, window=3, dtype=dtype, halo=halo, max_halo=max_halo)
    assert dem.chunks is not None and (redone is None or ("run again" in caplog.text) == redone)
    assert same_bits(dem.compute().values, whole.values)
    assert all(dem[c].equals(whole[c]) for c in whole.coords) and dem.rio.crs == whole.rio.crs
    assert dem.rio.nodata == whole.rio.nodata or np.isnan(dem.rio.nodata) and np.isnan(whole.rio.nodata)
    dem.rio.to_raster(tmp_path / "blocks.tif", lock=distributed.Lock("rio", client=client), tiled=True)
    whole.rio.to_raster(tmp_path / "whole.tif")
    assert same_bits(rioxarray.open_rasterio(tmp_path / "blocks.tif").values,
                     rioxarray.open_rasterio(tmp_path / "whole.tif").values)


def test_decisions_for_the_whole_raster(client):
    """What the whole array decides comes once, in the numpy path's words, whichever block holds it."""
    dask_array = pytest.importorskip("dask.array")
    c = np.full((300, 200), -1, np.int32)
    c[::40], c[130, 150], c[140, 10] = 100, 5_000_000, 5_000_000  # too large for interval 1: the first in row order
    for a, args in [(c, dict(interval=1)), (c.astype(np.float64), dict(interval=1)),
                    (c, dict(interval=20, dtype=np.uint8)), (np.full_like(c, -1), dict(interval=20))]:
        with pytest.raises(ValueError) as whole:
            tesk.fill(a, nodata=-1, **args)
        with pytest.raises(ValueError) as tiled:
            tesk.fill(dask_array.from_array(a, chunks=64), nodata=-1, **args)
        assert str(tiled.value) == str(whole.value)
    said = []  # the remarks on the interval, in tesk.fill's words, once for the whole array
    for a in (c, dask_array.from_array(c, chunks=64)):
        with pytest.warns(UserWarning) as seen:
            tesk.fill(a, interval=30, nodata=-1)
        said.append([str(w.message) for w in seen])
    assert said[0] == said[1] and "not multiples of interval=30 (for example 100)" in said[0][0]
    dem = tesk.fill(dask_array.from_array(c, chunks=64), interval=20, nodata=-1)
    assert isinstance(dem, dask_array.Array) and same_bits(dem.compute(), tesk.fill(c, interval=20, nodata=-1))
    with pytest.raises(ValueError, match="no Stats"):
        tesk.fill(dask_array.from_array(c), interval=20, nodata=-1, return_stats=True)
    rows = dask_array.from_array(c, chunks=64)
    with pytest.raises(ValueError, match=r"unknown chunk sizes .*compute_chunk_sizes\(\)"):
        tesk.fill(rows[rows[:, 0] >= -1], interval=20, nodata=-1)


def test_a_sea_of_one_level_is_proven_in_blocks_whatever_the_halo(client):
    """An island in a sea wider than the blocks: proven with a small max_halo when the coastline holds one
    level, not when it holds two."""
    dask_array = pytest.importorskip("dask.array")
    i, j = np.indices((300, 300))
    r = np.hypot(i - 150, j - 140)
    rings = (r >= 5) & (r <= 103) & (np.fmod(r, 6) < 1)
    for two_levels in (False, True):
        levels = np.where(rings, (103 - r).astype(int) // 6 * 10, 65500)
        if two_levels:
            levels[(levels == 0) & (j > 140)] = 10
        c = levels.astype(np.uint16)
        blocks = dask_array.from_array(c, chunks=64)
        if two_levels:
            with pytest.raises(ValueError, match="cannot be proven equal to a whole run"):
                tesk.fill(blocks, interval=10, nodata=65500, window=3, halo=8, max_halo=16)
            continue
        dem = tesk.fill(blocks, interval=10, nodata=65500, window=3, halo=8, max_halo=16)
        assert same_bits(dem.compute(), tesk.fill(c, interval=10, nodata=65500, window=3))


def test_a_flat_beside_a_seam_is_filled_when_the_blocks_run_again(client, caplog):
    """A flat inside a closed contour of one level, wider than max_halo, within the block left of a seam: no
    hole of one value crosses a seam, so the blocks run first without the holes' values.  The smoothed pixels
    right of the seam read the flat, which their block sees cut: proven only when run again with them."""
    dask_array = pytest.importorskip("dask.array")
    i, j = np.indices((256, 256))
    c = np.full((256, 256), 65500, np.uint16)
    c[::16], c[:, ::16] = i[::16] // 16 * 10, j[:, ::16] // 16 * 10  # squares bordered by several levels
    r = np.hypot(i - 64, j - 89)
    c[r < 40.5] = 65500
    c[(r >= 39) & (r < 40.5)] = 300  # the flat reaches column 127, its contour column 128
    caplog.set_level(logging.INFO, logger="tesk")
    args = dict(interval=10, nodata=65500, window=3, overlay=False)
    dem = tesk.fill(dask_array.from_array(c, chunks=128), halo=16, max_halo=32, **args)
    assert "first without the holes' values" in caplog.text and "run again" in caplog.text
    assert same_bits(dem.compute(), tesk.fill(c, **args))


@pytest.mark.parametrize("dtype, overlay", [(None, None), (np.float64, True), (np.int16, None)])
def test_a_fitted_surface_in_blocks_within_a_thousandth_of_the_interval(client, dtype, overlay):
    """The spline over blocks of 96 with a halo of 8 (each block also fitted with 16, and again with larger halos
    where the two differ): within a thousandth of the interval of the whole fit, an integer dtype at most one unit
    off where the surface lies that close to a half; the contours laid back exactly when asked."""
    whole = tesk.fill(rioxarray.open_rasterio(SRC), interval=20, method="spline", dtype=dtype, overlay=overlay)
    blocks = rioxarray.open_rasterio(SRC, chunks={"x": 96, "y": 96})
    dem = tesk.fill(blocks, interval=20, method="spline", dtype=dtype, overlay=overlay, halo=8).compute()
    difference = np.abs(dem.values.astype(float) - whole.values)
    assert 0 < difference.max() <= (1 if dtype == np.int16 else 20e-3 + 1e-4)
    assert np.count_nonzero(difference) < (10 if dtype == np.int16 else difference.size)
    if overlay:
        on = rioxarray.open_rasterio(SRC).values != 65500
        assert np.array_equal(dem.values[on], whole.values[on])
    with pytest.raises(ValueError, match=r"cannot be fitted within a thousandth .* halo of 4 pixels"):
        tesk.fill(blocks, interval=20, method="spline", halo=2, max_halo=4)
    if dtype is None:
        with pytest.warns(UserWarning, match=r"kept as the tiles computed them, not fitted within a thousandth"):
            tesk.fill(blocks, interval=20, method="spline", halo=2, max_halo=4, accept_uncertain=True)

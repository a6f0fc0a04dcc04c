"""The package against the command line (TESK_EXE) on the demo rasters, its errors, threads and signals."""
import os
import pathlib
import re
import signal
import subprocess
import sys
import threading
import time

import numpy as np
import pytest
from osgeo import gdal, gdal_array

import tesk

ROOT = pathlib.Path(os.environ.get("TESK_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
DEMO = ROOT / "images" / "demo"
gdal.UseExceptions()


def cli(tmp_path, src, *options, check=True):  # the DEM it writes, NaN where a real one holds its no-data value
    out = tmp_path / "out.tif"
    run = subprocess.run([os.environ["TESK_EXE"], "-q", "--overwrite", *options, str(src), str(out)], check=check,
                         capture_output=True, text=True)
    if run.returncode:
        return run.stderr.strip().removeprefix("tesk: ")
    ds = gdal.Open(str(out))
    dem, nodata = ds.ReadAsArray(), ds.GetRasterBand(1).GetNoDataValue()
    if dem.dtype.kind == "f" and nodata is not None:
        dem[dem == nodata] = np.nan
    return dem


def classic(name):
    rows, cols = (int(v) for v in (DEMO / f"{name}_c2.txt").read_text().split()[:2])
    return np.fromfile(DEMO / f"{name}_c2.raw", "<u2").reshape(rows, cols)


def terrain(rows, cols):  # sloping contour lines, every 23rd diagonal
    i, j = np.indices((rows, cols))
    return np.where((i + j // 7) % 23 == 0, (i + j // 7) * 3, 65500).astype(np.uint16)


@pytest.mark.parametrize("name, interval, window", [("volcano_i5", 5, 1), ("volcano_i5", 5, 3), ("jacksboro_i20", 20, 5)])
def test_classic_samples_give_the_classic_m2_bytes(tmp_path, name, interval, window):
    out = tmp_path / "x_m2.raw"
    subprocess.run([os.environ["TESK_EXE"], "-q", "-i", str(interval), "-m", str(window), str(DEMO / f"{name}_c2.raw"),
                    str(out)], check=True)
    dem = tesk.fill(classic(name), interval=interval, nodata=65500, window=window, dtype=np.uint16)
    assert dem.astype("<u2").tobytes() == out.read_bytes()


def numpy_name(gdal_type):
    return np.dtype(gdal_array.GDALTypeCodeToNumericTypeCode(gdal.GetDataTypeByName(gdal_type))).name


@pytest.mark.parametrize("dtype, ot, window, overlay, method", [
    (None, None, 1, None, "classic"), (np.float64, "Float64", 3, False, "classic"), (np.uint16, "UInt16", 5, True, "classic"),
    ("int32", "Int32", 3, True, "classic"), (np.uint8, "Byte", 3, None, "classic"),  # refused by both: 240 to 1060
    (None, None, 1, None, "spline"), (np.int16, "Int16", 1, True, "spline"), (np.float64, "Float64", 1, False, "spline")])
def test_dtype_gives_what_ot_writes_and_the_preview_its_bytes(tmp_path, dtype, ot, window, overlay, method):
    src, png = DEMO / "jacksboro_i20_c.tif", tmp_path / "p.png"
    opts = ["-i", "20", "-m", str(window), "--preview", str(png), "--method", method] + ["-ot", ot] * bool(ot) + \
        {None: [], True: ["--overlay"], False: ["--no-overlay"]}[overlay]
    fill = lambda: tesk.fill(gdal.Open(str(src)).ReadAsArray(), interval=20, nodata=65500, window=window,
                             overlay=overlay, dtype=dtype, method=method, return_stats=True)
    expected = cli(tmp_path, src, *opts, check=False)
    if isinstance(expected, str):  # refused: the same words, the parameter in place of the option
        words = re.sub(r"-ot (\w+)", lambda m: "dtype=" + numpy_name(m[1]), expected)
        with pytest.raises(ValueError, match="^" + re.escape(words) + "$"):
            fill()
        return
    dem, stats = fill()
    assert dem.dtype == np.dtype(dtype or np.float32) == expected.dtype and np.array_equal(dem, expected)
    assert (stats.minimum, stats.maximum) == (dem.min(), dem.max()) and type(stats.minimum) is type(dem.min().item())
    whole = dem if method == "classic" else np.floor(dem + 0.5)  # the spline's whole units: to the nearest
    assert np.array_equal(tesk.preview(whole), gdal.Open(str(png)).ReadAsArray())
    assert (stats.smoothing is None) == (method == "classic") and (stats.iterations or 1) > 0
    assert stats.tension is None if method == "classic" else stats.tension in (0.0, 0.1)  # chosen with the smoothing


def test_preview_of_holes_is_the_masked_preview(tmp_path):
    png, mask = tmp_path / "p.png", DEMO / "jacksboro_valleys.geojson"
    dem = cli(tmp_path, DEMO / "jacksboro_i20_c.tif", "-i", "20", "--mask", str(mask), "--preview", str(png))
    assert np.isnan(dem).any() and np.array_equal(tesk.preview(dem), gdal.Open(str(png)).ReadAsArray())
    assert tesk.preview(np.array([[np.nan, 1, 3, 5]])).tolist() == [[0, 1, 128, 255]]
    assert tesk.preview(np.array([[np.inf, 7.9]])).tolist() == [[0, 1]] and not tesk.preview(np.full((2, 2), np.nan)).any()


def test_float_with_nan_fortran_order_and_strided_views(tmp_path):
    contours = classic("volcano_i5").astype(np.float32)
    contours[contours == 65500] = np.nan
    contours[3, 4] = -1.0  # the nodata value, beside NaN
    src = tmp_path / "f.tif"
    gdal.Translate(str(src), gdal_array.OpenArray(contours), noData=-1.0)
    expected = cli(tmp_path, src, "-i", "5", "-m", "3")
    big = np.full((2 * contours.shape[0], 3 * contours.shape[1]), 7.0, np.float32)
    big[1::2, ::3] = contours
    for array in (contours, np.asfortranarray(contours), big[1::2, ::3], contours[::-1, ::-1].copy()[::-1, ::-1]):
        before = array.copy()
        dem = tesk.fill(array, interval=5, nodata=-1.0, window=3)
        assert np.array_equal(array, before, equal_nan=True)
        assert dem.dtype == np.float32 and np.array_equal(dem, expected)


def test_nodata_compared_as_a_sample_of_the_dtype():
    contours = classic("volcano_i5").astype(np.float32)
    holes = contours.copy()
    holes[contours == 65500] = np.nan
    contours[contours == 65500] = 0.1  # stored as np.float32(0.1)
    expected = tesk.fill(holes, interval=5)
    assert np.array_equal(tesk.fill(contours, interval=5, nodata=0.1), expected)
    wide = contours.astype(np.float64)  # float64 compares in double: 0.1 is not np.float32(0.1)
    assert np.array_equal(tesk.fill(wide, interval=5, nodata=np.float32(0.1)), expected)
    assert not np.array_equal(tesk.fill(wide, interval=5, nodata=0.1), expected)


def test_masked_pixels_are_nodata():
    """A masked array (rasterio's read(masked=True)) whose masked pixels hold 0: they are no-data, never
    contours at 0, in tesk.fill and tesk.preview."""
    contours = classic("volcano_i5")
    off = contours == 65500
    expected = tesk.fill(contours, interval=5, nodata=65500)
    for dtype in (np.uint16, np.int32, np.float32):
        masked = np.ma.masked_array(np.where(off, 0, contours).astype(dtype), mask=off)
        assert np.array_equal(tesk.fill(masked, interval=5), expected), dtype
    dem = np.ma.masked_array(expected, mask=off)
    assert np.array_equal(tesk.preview(dem), tesk.preview(np.where(off, np.nan, expected)))


def u16(*shape):
    return np.full(shape, 65500, np.uint16)


@pytest.mark.parametrize("args, kwargs, error, words", [
    ((u16(5),), {}, ValueError, "contours must be a 2-D array, not 1-D"),
    ((u16(2, 2, 2),), {}, ValueError, "contours must be a 2-D array, not 3-D"),
    ((np.zeros((2, 2), bool),), {}, TypeError, "bool samples hold no altitude"),
    ((np.zeros((2, 2), np.float16),), {}, TypeError, "float16 samples hold no altitude"),
    ((np.zeros((2, 2), complex),), {}, TypeError, "complex128 samples hold no altitude"),
    ((np.zeros((2, 2), object),), {}, TypeError, "object samples hold no altitude"),
    ((u16(2, 2),), {"interval": 0}, ValueError, "interval must not be 0"),
    ((u16(2, 2),), {"interval": 10.5}, TypeError, "interval must be an integer, not float"),
    ((u16(2, 2),), {"interval": None}, TypeError, "interval must be an integer, not None"),
    ((u16(2, 2),), {"interval": 2 ** 40}, ValueError, "interval is beyond the int range"),
    ((u16(2, 2),), {"window": 3.0}, TypeError, "window must be an integer, not float"),
    ((u16(2, 2),), {"method": "spline", "smoothing": True}, TypeError, "smoothing=True is not a number"),
    ((u16(2, 2),), {"nodata": np.True_}, TypeError, "the no-data value must be a number or None"),
    ((u16(2, 2),), {"window": 0}, ValueError, "window must lie between 1 and 33"),
    ((u16(2, 2),), {"window": 34}, ValueError, "window must lie between 1 and 33"),
    ((u16(2, 2),), {"threads": -1}, ValueError, "threads must lie between 0 and 1024"),
    ((u16(2, 2),), {"threads": 1025}, ValueError, "threads must lie between 0 and 1024"),
    ((u16(2, 2),), {"threads": 2 ** 40}, ValueError, "threads must lie between 0 and 1024"),
    ((u16(2, 2),), {"nodata": None}, ValueError, "contours has no no-data value: give the value that marks the pixels"),
    ((u16(2, 2),), {"nodata": 70000}, ValueError, "nodata=70000 is not a value of the contours' dtype uint16"),
    ((u16(2, 2),), {"nodata": 0.5}, ValueError, "nodata=0.5 is not a value of the contours' dtype uint16"),
    ((np.zeros((2, 2), np.uint64),), {"nodata": 2.0 ** 64}, ValueError, "is not a value of the contours' dtype uint64"),
    ((np.zeros((2, 2), np.float32),), {"nodata": 1e39}, ValueError, "nodata=1e+39 is not a value"),
    ((u16(2, 2),), {"nodata": "x"}, TypeError, "nodata='x': the no-data value must be a number or None"),
    ((u16(2, 2),), {"nodata": True}, TypeError, "nodata=True: the no-data value must be a number or None"),
    ((u16(2, 2),), {"halo": -1}, ValueError, "halo must be an integer >= 0, not -1"),
    ((u16(2, 2),), {"overlay": "no"}, TypeError, "overlay='no' must be True, False or None"),
    ((u16(2, 2),), {"accept_uncertain": "x"}, TypeError, "accept_uncertain must be True or False, not 'x'"),
    ((u16(2, 2),), {"progress": 5}, TypeError, "progress must be None or a callable taking the fraction done, not 5"),
    ((u16(2, 2),), {"max_halo": "x"}, ValueError, "max_halo must be an integer >= 0, not 'x'"),
    ((u16(2, 2),), {"dtype": np.float16}, TypeError, "dtype=float16 holds no altitude: None or float32"),
    ((u16(2, 2),), {"dtype": "nonsense"}, TypeError, "dtype='nonsense' is not a numpy dtype"),
    ((u16(2, 2),), {}, ValueError, "contours holds no contour pixel: every sample is the no-data value"),
    ((u16(0, 5),), {}, ValueError, "contours is empty (0 x 5 samples): no contour pixel"),
    ((np.array([[0, 0, 0], [0, 0, 5000000]], np.int32),), {"interval": 1, "nodata": 0}, ValueError,
     "contours: the value 5000000 at row 1, column 2 is too large for the interval 1"),
    ((np.array([[np.nan, 1e10]]),), {"nodata": None}, ValueError, "the value 10000000000 at row 0, column 1 is too large"),
    ((np.broadcast_to(np.uint16(1), (10 ** 6, 10 ** 6)),), {}, MemoryError, "not enough memory: a grid of 1000000 x"),
])
def test_errors(args, kwargs, error, words):
    with pytest.raises(error, match=re.escape(words)):
        tesk.fill(*args, **{"interval": 10, "nodata": 65500, **kwargs})


def test_uint32_beyond_the_int_range_as_the_command_line(tmp_path):
    i = np.indices((60, 50))[0]  # a contour every 15th row, 1000 apart, all above 2^31
    contours = np.where(i % 15 == 0, 3 * 10 ** 9 + i // 15 * 1000, 7).astype(np.uint32)
    gdal.Translate(str(tmp_path / "c.tif"), gdal_array.OpenArray(contours), noData=7)
    dem, stats = tesk.fill(contours, interval=1000, nodata=7, window=3, dtype=np.uint32, return_stats=True)
    expected = cli(tmp_path, tmp_path / "c.tif", "-i", "1000", "-m", "3", "-ot", "UInt32")
    assert np.array_equal(dem, expected) and (stats.minimum, stats.maximum) == (expected.min(), expected.max())


def test_threads_give_the_same_array_and_stats():
    contours = terrain(300, 2100)
    runs = [tesk.fill(contours, interval=10, nodata=65500, window=3, threads=t, return_stats=True) for t in (1, 2)]
    assert np.array_equal(runs[0][0], runs[1][0]) and repr(runs[0][1]) == repr(runs[1][1])
    assert runs[0][1].passes > 1 and runs[0][1].minimum < runs[0][1].maximum


@pytest.mark.parametrize("by_signal", [False, True])
def test_keyboard_interrupt_stops_the_run(by_signal):
    seen, contours = [], terrain(4096, 3000)

    def progress(f):
        seen.append(f)
        if f > 0 and not by_signal:
            raise KeyboardInterrupt
    if by_signal:  # Ctrl-C while the run computes
        threading.Timer(0.02, signal.pthread_kill, (threading.get_ident(), signal.SIGINT)).start()
    with pytest.raises(KeyboardInterrupt):
        tesk.fill(contours, interval=10, nodata=65500, window=5, progress=progress)
    assert all(f < 1 for f in seen) and seen == sorted(seen)


def test_gil_released_during_the_run():
    ticks, stop = [0], threading.Event()

    def count():
        while not stop.is_set():
            ticks[0] += 1
            time.sleep(0.001)
    contours, thread = terrain(1500, 1500), threading.Thread(target=count)
    thread.start()
    before = ticks[0]
    tesk.fill(contours, interval=10, nodata=65500, window=5, threads=1)
    during, _ = ticks[0] - before, stop.set()
    assert during >= 20


def test_readme_example_writes_the_command_lines_dem(tmp_path):  # rioxarray in, rio.to_raster out
    subprocess.run([sys.executable, str(ROOT / "scripts" / "python_example.py"), str(tmp_path)], check=True)
    dem, src = gdal.Open(str(tmp_path / "jacksboro_dem.tif")), gdal.Open(str(DEMO / "jacksboro_i20_c.tif"))
    assert np.array_equal(dem.ReadAsArray(), cli(tmp_path, DEMO / "jacksboro_i20_c.tif", "-i", "20", "-m", "3"))
    assert dem.GetGeoTransform() == src.GetGeoTransform() and dem.GetSpatialRef().IsSame(src.GetSpatialRef())
    assert (tmp_path / "python_example.png").stat().st_size > 10000

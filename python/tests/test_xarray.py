"""tesk.fill on xarray.DataArrays read with rioxarray: the values of the numpy path, the georeferencing kept."""
import os
import pathlib
import re
import sys
import warnings

import numpy as np
import pytest
import rioxarray

import tesk

SRC = pathlib.Path(os.environ.get("TESK_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2])) / "images" / "demo" / "jacksboro_i20_c.tif"


@pytest.mark.parametrize("masked, dtype, view, nodata", [
    (False, None, lambda da: da, np.nan),  # band, y, x; _FillValue 65500 in the attributes
    (True, np.uint16, lambda da: da.isel(band=0), 65500),  # y, x; NaN holes, 65500 in the encoding
    (False, np.int32, lambda da: da.transpose("x", "band", "y"), 65500),
    (True, np.int16, lambda da: da.isel(band=0).transpose(), -32768)])  # x, y; int16 cannot hold 65500: its lowest
def test_dataarray_keeps_dims_coords_and_georeferencing(masked, dtype, view, nodata):
    da = view(rioxarray.open_rasterio(SRC, mask_and_scale=masked))
    plain = rioxarray.open_rasterio(SRC).values[0]
    with warnings.catch_warnings(record=True) as said:
        warnings.simplefilter("always")
        dem = tesk.fill(da, interval=20, window=3, dtype=dtype)
    assert [str(w.message) for w in said] == ([] if nodata in (65500, None) or np.isnan(nodata) else [
        "the output type Int16 cannot hold the no-data value 65500: the output's no-data value is -32768 instead"])
    expected = tesk.fill(plain, interval=20, nodata=65500, window=3, dtype=dtype)
    assert dem.dims == da.dims and dem.dtype == expected.dtype
    assert np.array_equal(dem.transpose(..., "y", "x").values.reshape(expected.shape), expected)
    assert all(dem[c].equals(da[c]) for c in da.coords) and dem.rio.crs == da.rio.crs
    assert dem.rio.transform() == da.rio.transform() and dem.attrs.get("AREA_OR_POINT") == "Area"
    assert not {"scale_factor", "add_offset"} & dem.attrs.keys() and "_FillValue" not in dem.encoding
    assert dem.rio.nodata == nodata or np.isnan(dem.rio.nodata) and np.isnan(nodata)
    assert np.array_equal(tesk.preview(dem), tesk.preview(expected))


def test_dataarray_errors(monkeypatch):
    da = rioxarray.open_rasterio(SRC)
    with pytest.raises(ValueError, match=r"contours has 2 bands along 'band': select one"):
        tesk.fill(da.isel(band=[0, 0]), interval=20)
    for bad in (np.nan, 70000, -9999, 65500.5, "x"):  # none a uint16, which rioxarray's cast would hide
        wrong = da.copy()
        wrong.attrs["_FillValue"] = bad
        with pytest.raises(ValueError, match=rf"its no-data value \({re.escape(repr(bad))}\) is not a value of its "
                                             rf"dtype uint16: give .* nodata="):
            tesk.fill(wrong, interval=20)
    wide = da.astype(np.float32)  # beyond float32's range; a value it rounds (0.1) is taken rounded, as GDAL does
    wide.attrs["_FillValue"] = 1e39
    with pytest.raises(ValueError, match=r"its no-data value \(1e\+39\) is not a value of its dtype float32"):
        tesk.fill(wide, interval=20)
    wide.attrs["_FillValue"] = 0.1
    assert np.isnan(tesk.fill(wide, interval=20).rio.nodata)
    encoded = da.copy()  # an integer array's no-data value in its encoding: its samples still hold it
    encoded.encoding["_FillValue"] = encoded.attrs.pop("_FillValue")
    assert np.array_equal(tesk.fill(encoded, interval=20).values, tesk.fill(da, interval=20).values)
    monkeypatch.setitem(sys.modules, "rioxarray", None)
    with pytest.raises(ImportError, match="needs rioxarray: pip install rioxarray"):
        tesk.fill(da, interval=20)


@pytest.mark.parametrize("chunks", [None, 128])
def test_packed_samples_are_read_as_their_altitudes(chunks):
    # Altitudes packed as (altitude - 200) x 2 in uint16, as a scaled GeoTIFF band holds them.
    da = rioxarray.open_rasterio(SRC)
    off = da.values == 65500
    packed = da.copy(data=np.where(off, 65500, (da.values.astype(np.int64) - 200) * 2).astype(np.uint16))
    packed.attrs.update(scale_factor=0.5, add_offset=200.0)
    packed = packed.chunk(chunks) if chunks else packed
    dem = tesk.fill(packed, interval=20, window=3)
    assert np.array_equal(dem.values, tesk.fill(da, interval=20, window=3).values)
    assert not {"scale_factor", "add_offset"} & dem.attrs.keys()
    for name, bad in (("scale_factor", np.nan), ("add_offset", "abc"), ("scale_factor", [1, 2])):
        with pytest.raises(ValueError, match=f"attribute {name}=.* is not a finite number"):
            tesk.fill(packed.assign_attrs({name: bad}), interval=20)

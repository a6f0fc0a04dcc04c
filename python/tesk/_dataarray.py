"""tesk.fill on an xarray.DataArray: the plane of contours through the numpy
core (or, backed by dask, its blocks), and back into a DataArray that keeps
the source's dims, coords, CRS, transform and the attributes that still
hold.  Needs xarray and rioxarray, imported only here."""
import warnings

import numpy as np

from . import _core

# Attributes that describe the contours' values, not the DEM's: their
# no-data value, scaling and statistics.
_STALE = {"_FillValue", "missing_value", "fill_value", "nodata", "nodatavals", "scale_factor", "add_offset",
          "scales", "offsets", "valid_range", "valid_min", "valid_max", "actual_range"}


def _require_rioxarray():
    try:
        import rioxarray  # noqa: F401  (registers the .rio accessor)
    except ImportError as e:
        raise ImportError("tesk.fill on an xarray.DataArray needs rioxarray: pip install rioxarray "
                          "(on Debian: apt install python3-rioxarray)") from e


def _plane(da):
    """The 2-D plane of contours (rows, columns) and the band dim around it (None for a 2-D array)."""
    try:
        spatial = (da.rio.y_dim, da.rio.x_dim)
    except Exception:  # no dims rioxarray recognises: the last two are the rows and columns
        spatial = da.dims[-2:]
    others = [d for d in da.dims if d not in spatial]
    if len(others) > 1 or len(spatial) < 2:
        raise ValueError(f"contours must be a 2-D DataArray or have one band dimension, not dims {da.dims}")
    if not others:
        return da.transpose(*spatial), None
    band = others[0]
    if da.sizes[band] != 1:
        raise ValueError(f"contours has {da.sizes[band]} bands along {band!r}: select one, "
                         f"for example contours.isel({band}=[0])")
    return da.isel({band: 0}).transpose(*spatial), band


def _integer_nodata(values, wanted):
    """The no-data value of an integer result, chosen by the command line's rule (the wanted one when the
    dtype holds it and no value takes it, else a value no pixel takes), with its warning when it is not the
    wanted one; None when none is wanted."""
    if wanted is None:
        return None
    if isinstance(values, np.ndarray):
        summaries = [_core.value_summary(values, wanted)]
    else:  # a dask array: each block summarised where it lies
        summaries = list(values.map_blocks(_summary_block_of, dtype=object, wanted=wanted,
                                           chunks=((1,) * len(values.chunks[0]), (1,) * len(values.chunks[1])),
                                           meta=np.empty((0, 0), object)).compute().flat)
    value, note = _core.choose_nodata(values.dtype, wanted, summaries)
    if note:
        warnings.warn(note, UserWarning, stacklevel=4)
    return None if value is None else values.dtype.type(value).item()


def _summary_block_of(block, *, wanted):
    out = np.empty((1, 1), dtype=object)
    out[0, 0] = _core.value_summary(block, wanted)
    return out


def _declared_nodata(plane):
    """The no-data value the DataArray declares for its samples (None when it declares none): exactly for an
    integer dtype, where rioxarray's cast would wrap 70000 or -9999 into a uint16 and truncate 65500.5 silently;
    rounded to a floating-point dtype, refused when beyond its range."""
    dtype = plane.dtype
    raw = plane.rio.encoded_nodata
    if raw is not None and np.issubdtype(dtype, np.floating):
        return np.nan  # a masked array: NaN marks the pixels off the contours
    if raw is None:
        raw = next((plane.attrs[k] for k in ("_FillValue", "missing_value", "fill_value", "nodata")
                    if k in plane.attrs), None)
    if raw is None:
        return plane.rio.nodata  # nodatavals, or the file's own: of the dtype already
    value = raw.item() if isinstance(raw, np.generic) else raw
    try:
        if isinstance(value, str):  # as rioxarray reads it
            value = float(value)
        if np.issubdtype(dtype, np.integer):
            info = np.iinfo(dtype)
            exact = isinstance(value, int) or (isinstance(value, float) and value.is_integer())
            if exact and info.min <= int(value) <= info.max:
                return int(value)
        else:  # as GDAL compares it: the value cast to the dtype, when the dtype holds it
            with np.errstate(over="ignore"):
                cast = dtype.type(float(value))
            if np.isnan(cast) or np.isfinite(cast) or np.isinf(float(value)):
                return float(cast)
    except (TypeError, ValueError, OverflowError):
        pass
    raise ValueError(f"contours: its no-data value ({raw!r}) is not a value of its dtype {dtype}: give the value "
                     f"that marks the pixels off the contours with nodata=")


def _packing(plane, name, default):
    """The DataArray's scale_factor or add_offset attribute as a finite float (default when absent)."""
    value = plane.attrs.get(name, default)
    try:
        number = float(np.asarray(value).item()) if np.ndim(value) == 0 else None
    except (TypeError, ValueError):
        number = None
    if number is None or isinstance(value, (bool, np.bool_)) or not np.isfinite(number):
        raise ValueError(f"contours' attribute {name}={value!r} is not a finite number: the samples cannot be read "
                         "as the altitudes they pack")
    return number


def _unpacked(plane, nodata):
    """The plane and its no-data value, its samples read as the altitudes they pack when its attributes give a
    scale or an offset, as the command line reads such a band: sample x scale + offset in double, NaN where the
    sample is the no-data value."""
    scale, offset = (_packing(plane, name, default) for name, default in (("scale_factor", 1), ("add_offset", 0)))
    if scale == 1 and offset == 0:
        return plane, nodata
    samples = plane.data
    altitudes = samples.astype(np.float64) * float(scale) + float(offset)
    if nodata is not None and not np.isnan(nodata):
        altitudes = np.where(samples == nodata, np.nan, altitudes)
    return plane.copy(data=altitudes), np.nan


def plane_values(da):
    """The values of the DataArray's plane of rows by columns, for tesk.preview."""
    _require_rioxarray()
    return _plane(da)[0].values


def fill_dataarray(da, *, nodata, halo, max_halo, accept_uncertain, **args):
    """tesk.fill's work on a DataArray: returns (DataArray, Stats); Stats is None for a dask-backed one."""
    _require_rioxarray()
    plane, band = _plane(da)
    # The file's no-data value: a masked array (NaN holes) keeps it in its encoding.
    wanted = nodata if nodata is not None else plane.rio.encoded_nodata
    declared = None
    if nodata is None:
        nodata = declared = _declared_nodata(plane)
    plane, nodata = _unpacked(plane, nodata)
    if plane.chunks is not None:
        from ._blocks import fill_dask
        del args["threads"], args["progress"]
        values, _, _, _ = fill_dask(plane.data, nodata=nodata, halo=halo, max_halo=max_halo,
                                           accept_uncertain=accept_uncertain, **args)
        stats = None
    else:
        values, stats = _core.fill(plane.values, nodata=nodata, **args)
    dem = plane.copy(data=values)
    dem.encoding = {}
    dem.attrs = {k: v for k, v in plane.attrs.items() if k not in _STALE and not k.startswith("STATISTICS_")}
    if np.issubdtype(values.dtype, np.floating):
        dem.rio.write_nodata(np.nan, encoded=False, inplace=True)
    else:
        dem.rio.write_nodata(_integer_nodata(values, declared if wanted is None else wanted),
                             encoded=False, inplace=True)
    if band is not None:
        dem = dem.expand_dims(band)
    return dem.transpose(*da.dims), stats

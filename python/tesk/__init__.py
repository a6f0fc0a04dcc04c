"""TESK: digital elevation models from rasters of contour lines.

`fill` turns the contours, a numpy array or an ``xarray.DataArray``, into a
DEM with the values the ``tesk`` command line writes; `preview` gives the
8-bit preview of a DEM; `run` does in-process, from files to files, what
``tesk SRC DST`` does.  xarray and rioxarray are needed only for
DataArrays, and imported only then.
"""
from __future__ import annotations

import os
import sys
from typing import TYPE_CHECKING, Callable, Literal, Mapping, Optional, Sequence, Tuple, Union, overload

import numpy as np
import numpy.typing as npt

from . import _core
from ._core import Stats, __version__

if TYPE_CHECKING:
    import xarray

__all__ = ["fill", "preview", "run", "Stats", "__version__"]

Progress = Optional[Callable[[float], object]]


def _is_dataarray(a) -> bool:
    xr = sys.modules.get("xarray")  # a DataArray's module is loaded; tesk never loads it itself
    return xr is not None and isinstance(a, xr.DataArray)


def _is_dask(a) -> bool:
    if _is_dataarray(a):
        return a.chunks is not None
    dask_array = sys.modules.get("dask.array")
    return dask_array is not None and isinstance(a, dask_array.Array)


@overload
def fill(contours: xarray.DataArray, *, interval: int, nodata: Optional[float] = None, window: int = 1,
         overlay: Optional[bool] = None, dtype: npt.DTypeLike = None, threads: Optional[int] = None,
         progress: Progress = None, method: str = "classic", smoothing: Optional[float] = None, tension: Optional[float] = None,
         halo: Optional[int] = None, max_halo: Optional[int] = None,
         accept_uncertain: bool = False, return_stats: Literal[False] = False) -> xarray.DataArray: ...
@overload
def fill(contours: xarray.DataArray, *, interval: int, nodata: Optional[float] = None, window: int = 1,
         overlay: Optional[bool] = None, dtype: npt.DTypeLike = None, threads: Optional[int] = None,
         progress: Progress = None, method: str = "classic", smoothing: Optional[float] = None, tension: Optional[float] = None,
         halo: Optional[int] = None, max_halo: Optional[int] = None,
         accept_uncertain: bool = False, return_stats: Literal[True]) -> Tuple[xarray.DataArray, Stats]: ...
@overload
def fill(contours: npt.ArrayLike, *, interval: int, nodata: Optional[float] = None, window: int = 1,
         overlay: Optional[bool] = None, dtype: npt.DTypeLike = None, threads: Optional[int] = None,
         progress: Progress = None, method: str = "classic", smoothing: Optional[float] = None, tension: Optional[float] = None,
         halo: Optional[int] = None, max_halo: Optional[int] = None,
         accept_uncertain: bool = False, return_stats: Literal[False] = False) -> np.ndarray: ...
@overload
def fill(contours: npt.ArrayLike, *, interval: int, nodata: Optional[float] = None, window: int = 1,
         overlay: Optional[bool] = None, dtype: npt.DTypeLike = None, threads: Optional[int] = None,
         progress: Progress = None, method: str = "classic", smoothing: Optional[float] = None, tension: Optional[float] = None,
         halo: Optional[int] = None, max_halo: Optional[int] = None,
         accept_uncertain: bool = False, return_stats: Literal[True]) -> Tuple[np.ndarray, Stats]: ...


def fill(contours, *, interval, nodata=None, window=1, overlay=None, dtype=None, threads=None, progress=None,
         method="classic", smoothing=None, tension=None, halo=None, max_halo=None, accept_uncertain=False,
         return_stats=False):
    """Turn a raster of contour lines into a digital elevation model.

    Parameters
    ----------
    contours : 2-D array, dask array or xarray.DataArray
        The contour pixels hold their altitude, every other pixel the no-data
        value.  Any integer type, float32 or float64, in any memory layout (C
        or Fortran order, strided views); never modified.  A DataArray may
        have one band dimension of size 1 besides its two spatial ones
        (needs rioxarray).  A dask array, or a DataArray backed by one
        (``rioxarray.open_rasterio(path, chunks=...)``), is computed block by
        block: see Notes.
    interval : int
        The contour interval, in the altitude units of the samples (not 0).
    nodata : number, optional
        The value of the pixels off the contours, compared as a sample of the
        array's dtype holds it (``nodata=0.1`` on float32 matches
        ``np.float32(0.1)``).  Required for integer arrays, where it must be
        an integer of the dtype.  In floating-point arrays NaN is always
        no-data, and nodata adds one more value.  For a DataArray, None
        takes ``contours.rio.nodata`` (its ``_FillValue``).  The masked
        pixels of a numpy masked array are no-data too (an integer one is
        then read as float64, exactly).
    window : int
        The classic method's smoothing window, 1 to 33: 1 does not smooth,
        any larger m smooths with a Bernstein window of m+1 by m+1 pixels.
    overlay : bool, optional
        Lay the contour pixels back on the result; None: the method's
        choice (the classic method does, the spline does not).
    dtype : numpy dtype, optional
        The result's type, and the values the command line writes with
        ``-ot`` of that type.  None or float32 (the command line's
        default): full resolution, internal value x interval / 512 rounded
        to float32.  float64: the same in double.  An integer type: whole
        units; ValueError when the type cannot hold them (never clipped).
    threads : int, optional
        Worker threads, 1 to 1024; None or 0: every core (or TESK_THREADS).
        The result does not depend on it.  Ignored for dask arrays, whose
        blocks run on one thread each.
    progress : callable, optional
        Called with the fraction done, from 0 to 1, on the calling thread.
        An exception it raises stops the run and goes on to the caller.
        Not for dask arrays (ValueError): use dask's diagnostics.
    method : str
        How the surface is made (the command line's ``--method``):
        "classic", grown from the contours, exact to the bit; or "spline", a
        thin plate fitted to the contour pixels, smooth and closer to the
        terrain, whose integer dtypes round to the nearest.
    smoothing : float, optional
        The spline's weight of the curvature against the fit to the
        contours, in pixel units (1e-6 to 1e6); None chooses it from the
        contours by cross-validation (``--smoothing``).
    tension : float, optional
        The share of the spline's penalty put on the slope rather than the
        curvature, 0 (a thin plate) to 1 excluded (``--tension``); None
        chooses it with the smoothing (0 or 0.1), or takes 0 when the
        smoothing is given.
    halo : int, optional
        Dask arrays only: the halo of the blocks' first run, in pixels.
        None estimates it from the contours (see Notes).
    max_halo : int, optional
        Dask arrays only: the largest halo a block runs again with; None:
        2048.
    accept_uncertain : bool
        Dask arrays only: keep the blocks that no halo up to max_halo
        proves as they were computed, with a warning that names them,
        instead of raising ValueError.
    return_stats : bool
        Also return a `Stats`: passes, growth sweeps, gap sweeps, and the
        result's minimum and maximum in its units.  Not for dask arrays
        (ValueError).

    Returns
    -------
    dem : numpy.ndarray, dask array or xarray.DataArray
        A new array of the contours' shape and of type `dtype`.  From a
        DataArray, a DataArray with its dims, coords, CRS and transform and
        the attributes that still hold (no ``_FillValue``, scale or
        statistics of the contours); ``rio.nodata`` is NaN for a
        floating-point dtype and, for an integer one, the no-data value
        where no result equals it, else the dtype's bound beyond the values
        (None when neither is free), as the command line chooses it.
    stats : Stats
        Only with ``return_stats=True``.

    Raises
    ------
    TypeError
        A dtype that holds no altitude (bool, float16, complex, object), for
        the contours or the result.
    ValueError
        A bad argument, an array without contour pixel, a value too large
        for the interval (with its row and column), or an integer dtype that
        cannot hold the result.
    MemoryError
        The raster is too large for the memory; raised before anything is
        allocated.
    ImportError
        A DataArray without rioxarray installed.

    Notes
    -----
    The GIL is released while the computation runs; Ctrl-C stops it within
    about 50 ms and no array is returned.

    A dask array is computed on dask's scheduler (a ``dask.distributed``
    Client when one is active) before fill returns, and the result is a
    persisted dask array (or DataArray backed by one) of the same shape,
    whose values are bit for bit those of the whole array in memory:

    1. Every block is surveyed first: the refusal of an array without
       contour pixel, and of a value too large for the interval (the first
       in row order, with its row and column), and the warnings on the
       interval, come from the whole array, as the command line's run by
       tiles decides them; so does the halo, from the longest run of no-data
       pixels along a row or a column, halved and rounded up to a multiple
       of 16, between 16 and 1024.
    2. ``map_overlap`` (``boundary='none'``) runs every block with that
       halo, where blocks smaller than it are first merged with their
       neighbours (the result's chunks then differ from the input's).  Each
       block comes with a certificate: a proof that each of its pixels
       holds the whole run's value.
    3. A block that cannot be proven runs again with twice the halo, and
       again, up to ``max_halo``; beyond it the call raises ValueError
       naming the block and how many of its pixels stay unproven (a flat
       or a sea wider than the halo: give a larger max_halo or compute in
       memory), unless ``accept_uncertain=True`` keeps it with a warning.
       The logger "tesk" tells at level INFO which blocks ran again.
    4. An integer dtype is checked against the range of all blocks.
    """
    for name, v in (("halo", halo), ("max_halo", max_halo)):  # checked whatever the array, used by dask's
        if v is not None and (not isinstance(v, (int, np.integer)) or isinstance(v, bool) or v < 0):
            raise ValueError(f"{name} must be an integer >= 0, not {v!r}")
    for name, v in (("accept_uncertain", accept_uncertain), ("return_stats", return_stats)):
        if not isinstance(v, (bool, np.bool_)):
            raise TypeError(f"{name} must be True or False, not {v!r}")
    _check_progress(progress)
    args = dict(interval=interval, nodata=nodata, window=window, overlay=overlay, dtype=dtype, threads=threads,
                progress=progress, method=method, smoothing=smoothing, tension=tension)
    if _is_dask(contours):
        if return_stats:
            raise ValueError("return_stats=True: a fill over dask blocks has no Stats (each block's run has its "
                             "own passes); compute the array in memory for them")
        if progress is not None:
            raise ValueError("progress: a fill over dask blocks reports no progress of its own; use dask's "
                             "diagnostics (dask.diagnostics.ProgressBar, or the distributed dashboard)")
    if _is_dataarray(contours):
        from ._dataarray import fill_dataarray
        dem, stats = fill_dataarray(contours, halo=halo, max_halo=max_halo, accept_uncertain=accept_uncertain, **args)
    elif _is_dask(contours):
        from ._blocks import fill_dask
        dem = fill_dask(contours, interval=interval, nodata=nodata, window=window, overlay=overlay, dtype=dtype,
                        method=method, smoothing=smoothing, tension=tension, halo=halo, max_halo=max_halo,
                        accept_uncertain=accept_uncertain)[0]
    else:
        dem, stats = _core.fill(_unmasked(contours), **args)
    return (dem, stats) if return_stats else dem


def _unmasked(a):
    """The samples of an array; those of a numpy masked array with its masked pixels NaN, the no-data value of
    every floating-point array: an integer array is read as float64 for that (exact for every value a run
    takes), a floating-point one keeps its type."""
    if not isinstance(a, np.ma.MaskedArray):
        return np.asarray(a)
    if not np.ma.is_masked(a) or not (np.issubdtype(a.dtype, np.integer) or np.issubdtype(a.dtype, np.floating)):
        return np.ma.getdata(a)
    return (a if np.issubdtype(a.dtype, np.floating) else a.astype(np.float64)).filled(np.nan)


def preview(dem: Union[npt.ArrayLike, xarray.DataArray]) -> npt.NDArray[np.uint8]:
    """The 8-bit preview of a 2-D array (uint8, same shape; of a DataArray's plane, rows by columns).

    Floating-point samples are taken at their whole part.  Without holes,
    the array is stretched from its minimum (0) to its maximum (255): the
    bytes the command line's ``--preview`` writes for that DEM.  NaN and
    infinite pixels are holes: they are 0 and the other pixels are
    stretched over 1..255, as the command line's preview over an area of
    interest (``--mask``) is; an array of holes only gives zeros.

    Raises
    ------
    TypeError
        A dtype that holds no altitude.
    ValueError
        Not 2-D, or a finite value beyond the int range.
    """
    if _is_dataarray(dem):
        from ._dataarray import plane_values
        dem = plane_values(dem)
    return _core.preview(_unmasked(dem))


PathLike = Union[str, "os.PathLike[str]"]


def run(src: PathLike, dst: PathLike, *, interval: int, window: int = 1, overlay: Optional[bool] = None,
        nodata: Optional[float] = None, band: Optional[int] = None, attribute: Optional[str] = None,
        layer: Optional[str] = None, pixel_size: Union[float, Tuple[float, float], None] = None,
        size: Optional[Tuple[int, int]] = None, extent: Optional[Tuple[float, float, float, float]] = None,
        mask: Optional[PathLike] = None, output_type: Optional[str] = None, format: Optional[str] = None,
        creation_options: Union[Sequence[str], Mapping[str, object], None] = None,
        preview: Optional[PathLike] = None, hillshade: Optional[PathLike] = None, hillshade_z: float = 1,
        overwrite: bool = False, threads: Optional[int] = None, method: str = "classic",
        smoothing: Optional[float] = None, tension: Optional[float] = None, tile_size: Optional[int] = None, halo: Optional[int] = None, accept_uncertain: bool = False,
        progress: Progress = None) -> Stats:
    """Turn a contour file into a DEM file, in-process, as ``tesk SRC DST`` does.

    Each parameter is the command line's option of that meaning, and the
    outputs are value for value what the command line writes with them:
    pixels, georeferencing, type, no-data value and creation options.  The
    DEM's ``TESK_COMMAND_LINE`` metadata item records the equivalent
    command.  Every output appears whole or not at all.

    Parameters
    ----------
    src : path
        A raster with a no-data value, vector contour lines or spot
        heights, or a classic ``NAME_c2.raw`` / ``NAME_c4.raw``.
    dst : path
        The DEM: any raster format GDAL writes (GeoTIFF by default, or from
        the extension), or a classic ``NAME_m2.raw`` / ``NAME_m4.raw`` set.
    interval : int
        The contour interval (``-i``), not 0.
    window : int
        The classic method's smoothing window (``-m``), 1 (no smoothing) to 33.
    overlay : bool, optional
        Lay the contour values back over the result (``--overlay``,
        ``--no-overlay``); None: the method's choice.
    nodata : float, optional
        The source's no-data value, overriding its own (``--nodata``).
    band : int, optional
        The band of a raster source (``-b``), from 1.
    attribute, layer : str, optional
        A vector source's altitude attribute (``-a``) and layer (``-l``).
    pixel_size, size, extent : optional
        A vector source's grid: pixel size (``-tr``, one number or a pair),
        size in pixels (``-ts``, width and height), extent (``-te``, xmin,
        ymin, xmax, ymax).
    mask : path, optional
        Area of interest (``--mask``): a raster's valid non-zero pixels, or
        polygons; outside it the DEM is no-data.
    output_type, format : str, optional
        ``-ot`` (Float32 by default) and ``-of`` (GDAL's short name).
    creation_options : sequence of "NAME=VALUE", or a mapping, optional
        ``-co``, for the DEM's format.
    preview, hillshade : path, optional
        Also write the 8-bit preview and a shaded relief as PNG.
    hillshade_z : float
        Vertical exaggeration of the shaded relief.
    overwrite : bool
        Replace existing outputs (``--overwrite``).
    threads : int, optional
        Worker threads, 1 to 1024; None or 0: every core (or TESK_THREADS).
    method : str
        How the surface is made (``--method``): "classic" or "spline".
    smoothing, tension : float, optional
        The spline's weight of the curvature (None: chosen from the
        contours) and share of slope (None: chosen with the smoothing, 0
        when the smoothing is given) (``--smoothing``, ``--tension``).
    tile_size, halo : int, optional
        Run by tiles of tile_size pixels a side (``--tile-size``, 64 or
        more), with a first halo of halo pixels (``--halo``; None: estimated
        from the contours).  A raster too large for the memory runs by tiles
        by itself; the result is the same.
    accept_uncertain : bool
        By tiles: keep the pixels that no halo the memory allows can prove
        equal to a whole run's as their tile computes them, with a warning
        (``--accept-uncertain``), instead of raising ValueError.
    progress : callable, optional
        Called with the fraction done, 0 to 1, on the calling thread; an
        exception it raises stops the run.

    Returns
    -------
    Stats
        Passes and sweeps, and the DEM's range in its units.

    Raises
    ------
    FileExistsError
        An output exists and overwrite is False.
    ValueError, TypeError
        A bad argument or source, in the command line's words with the
        parameter's name in place of the option.
    OSError
        A file that cannot be read or written.
    MemoryError
        The raster is too large for the memory; raised before the run.

    Warnings
    --------
    What the command line prints as ``Warning: ...`` comes as a
    ``UserWarning``.

    Notes
    -----
    The GIL is released while the run goes on.  Ctrl-C (KeyboardInterrupt)
    stops it, removes its temporary files and leaves every existing file as
    it was.
    """
    return _run(src, dst, None, progress, interval=interval, window=window, overlay=overlay, nodata=nodata,
                band=band, attribute=attribute, layer=layer, pixel_size=pixel_size, size=size, extent=extent, mask=mask,
                output_type=output_type, format=format, creation_options=creation_options, preview=preview,
                hillshade=hillshade, hillshade_z=hillshade_z, overwrite=overwrite, threads=threads, method=method,
                smoothing=smoothing, tension=tension, tile_size=tile_size, halo=halo,
                accept_uncertain=accept_uncertain)


_PATHS = ("mask", "preview", "hillshade")


def _options(src, dst, options):
    """src, dst and tesk.run's options as the compiled run takes them: paths as str, a pixel size as a pair,
    creation options as a list of NAME=VALUE; options left at None are left out."""
    def path(name, v):
        try:
            return os.fspath(v)
        except TypeError:
            raise TypeError(f"{name} must be a path (str or os.PathLike), not {type(v).__name__}") from None

    options = {k: v for k, v in options.items() if v is not None}
    for name in _PATHS:
        if name in options:
            options[name] = path(name, options[name])
    if isinstance(options.get("pixel_size"), (int, float)):
        options["pixel_size"] = (options["pixel_size"], options["pixel_size"])
    creation = options.get("creation_options")
    if isinstance(creation, Mapping):
        options["creation_options"] = [f"{k}={v}" for k, v in creation.items()]
    elif isinstance(creation, str):
        options["creation_options"] = [creation]
    elif creation is not None:
        options["creation_options"] = list(creation)
    return path("src", src), path("dst", dst), options


def _check_progress(progress):
    if progress is not None and not callable(progress):
        raise TypeError(f"progress must be None or a callable taking the fraction done, not {progress!r}")


def _run(src, dst, words, progress, **options):
    """tesk.run, its messages' options spelt by words(key, form, value) when given (the QGIS algorithm's)."""
    if not hasattr(_core, "run"):
        raise ImportError("this tesk was built without GDAL, which tesk.run needs")
    src, dst, options = _options(src, dst, options)
    _check_progress(progress)
    return _core.run(src, dst, options, words=words, progress=progress)


def _command_line(src, dst, **options):
    """The tesk command line that does what tesk.run(src, dst, **options) does."""
    return _core.command_line(*_options(src, dst, options))

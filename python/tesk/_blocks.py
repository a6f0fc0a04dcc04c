"""tesk.fill on a dask array: the raster computed block by block, each block with a halo around it, and every
block's result proven to be the whole run's before the array is returned.

The plan is the command line's for a raster run by tiles (the compiled core's tiles/plan), on dask's current
scheduler (a dask.distributed Client when one is active):

1. A survey of every block, merged, decides what a whole run decides from the whole raster: that a contour pixel
   exists, the first value too large for the interval (with its row and column), the remarks on the interval
   and the smoothing window, and the first halo from the longest run of no-data pixels along a row or a column.
   The holes of every block, stitched along the seams, give the value of every pixel in a hole bordered by one
   value (a sea beyond a coastline, a flat inside a closed contour): a lazily computed array that a block takes
   as data, whatever its halo.
2. ``map_overlap`` with ``boundary='none'`` runs every block with that halo through the core's tile run, on one
   thread, and the results are persisted.  Each comes with a certificate: whether every pixel of the block is
   proven to hold the whole run's value.  The blocks take the holes' values only when such a hole crosses a
   seam between blocks: otherwise each lies within one block, which its tile run nearly always proves by
   itself, and the pass over every block that computes the values is left to the blocks run again.
3. The blocks whose certificate fails run again, with the holes' values, with a larger halo, until they are proven
   or the halo reaches max_halo; then the run is refused naming the block, unless accept_uncertain keeps such blocks
   as computed (with a warning).  By the command line's rule (Retries in tiles/plan), each larger halo goes to the
   box of a block's unproven pixels alone, when that computes at most half as many pixels, and a block that box
   proves whole takes its values; a block whose boxes reach max_halo unproven runs whole again from the halo of its
   last whole run.
4. An integer dtype is checked against the range of all blocks.

A fitted surface (method="spline") follows the same plan with the spline's guarantee instead of the certificate:
its smoothing is chosen once, from windows of the whole array read as a whole run reads them; the holes of every
block give the range of their border (the bound the surface keeps in each hole of the whole raster) instead of a
value; and each block is fitted with its halo and with twice it, proven when the two fits differ nowhere by more
than a thousandth of the interval (the wider one kept).

Needs dask, imported only here.
"""
import logging
import warnings

import dask
import dask.array as da
import numpy as np
from dask.array.overlap import ensure_minimum_chunksize

from . import _core

log = logging.getLogger("tesk")

# The largest halo tried by default: a 512-pixel block then runs over at most 4608 x 4608 pixels.
DEFAULT_MAX_HALO = 2048


def _cell(value):
    """value in a 1 x 1 object array: one block's result in an array of blocks."""
    out = np.empty((1, 1), dtype=object)
    out[0, 0] = value
    return out


def _survey(block, block_info=None, *, params):
    (r0, _), (c0, _) = block_info[0]["array-location"]
    return _cell(_core.survey(block, row0=r0, col0=c0, **params))


def _starts(chunks):
    return np.concatenate([[0], np.cumsum(chunks)]).astype(int).tolist()


def _core_of(starts, i, j):
    rows, cols = starts
    return rows[i], cols[j], rows[i + 1] - rows[i], cols[j + 1] - cols[j]


def _holes(block, block_info=None, *, borders, across, params):
    i, j = block_info[0]["chunk-location"]
    return _core.hole_values(block, borders[i * across + j], interval=params["interval"], nodata=params["nodata"],
                             method=params["method"])


def _ranges(block, block_info=None, *, borders, across, params, which):
    i, j = block_info[0]["chunk-location"]
    return _core.hole_ranges(block, borders[i * across + j], interval=params["interval"], nodata=params["nodata"],
                             method=params["method"])[which]


def _tile(block, holes, raster, core, halo, params, fit=None):
    if fit is None:
        return _core.fill_tile(block, raster=raster, core=core, halo=halo, holes=holes, **params)
    lo, hi = holes
    return _core.fit_tile(block, lo, hi, raster=raster, core=core, halo=halo, wider=fit["wider"](halo),
                          smoothing=fit["smoothing"], tension=fit["tension"], interval=params["interval"],
                          nodata=params["nodata"], overlay=params["overlay"], dtype=params["dtype"])


def _tile_block(block, *holes, block_info=None, raster, starts, halo, params, fit=None):
    i, j = block_info[0]["chunk-location"]
    holes = holes if fit is not None else (holes[0] if holes else None)
    return _cell(_tile(block, holes, raster, _core_of(starts, i, j), halo, params, fit))


def _certificate(cell):
    """(certified, uncertain pixels, minimum, maximum, the box of the pixels not proven or None, whether the
    values were written)."""
    values, certified, uncertain, lo, hi = cell[0, 0][:5]
    box = cell[0, 0][5] if len(cell[0, 0]) > 5 else None
    return _cell((certified, uncertain, lo, hi, box, values is not None))


def _patched(cell, box_cell, core, box):
    """A block's cell with the values of the box of its unproven pixels taken from a tile that proves them all."""
    values = cell[0, 0][0].copy()
    r, c = box[0] - core[0], box[1] - core[1]
    values[r:r + box[2], c:c + box[3]] = box_cell[0]
    return _cell((values, True, 0, float(values.min()), float(values.max()), (core[0], core[1], 0, 0)))


def _values(cell):
    return cell[0, 0][0]


def _proven_whole(run):
    """Whether a tile's run proves every pixel of its core, with values the dtype holds."""
    return bool(run[1]) and run[0] is not None


def _extent(raster, core, halo):
    """The rows and columns a tile of core computes with halo, as slices."""
    r0, c0, rows, cols = _core.tile_extent(raster, core, halo)
    return slice(r0, r0 + rows), slice(c0, c0 + cols)


def _whole_run(x, holes, raster, starts, block, h, params, fit):
    """A block run again whole with halo h (its core with the halo, or the wider one of a fit)."""
    core = _core_of(starts, *block)
    window = _extent(raster, core, fit["wider"](h) if fit else h)
    around = [a[window] for a in holes] if fit else holes[0][window]
    return dask.delayed(_tile)(x[window], around, raster, core, h, params, fit)


def _take_boxes(boxes, cells, certificates, starts):
    """The boxes' values taken into the blocks they prove whole (cells and certificates updated); returns the
    blocks whose box left pixels unproven."""
    proven = dask.compute(*[dask.delayed(_proven_whole)(b) for b in boxes.values()])
    patched = {}
    for (i, j), whole in zip(boxes, proven):
        if whole:
            cell = cells[i][j].to_delayed().ravel()[0]
            patched[i, j] = dask.delayed(_patched)(cell, boxes[i, j], _core_of(starts, i, j), certificates[i, j][4])
    patched = dict(zip(patched, dask.persist(*patched.values())))
    done = dask.compute(*[dask.delayed(_certificate)(c) for c in patched.values()])
    for (i, j), c in zip(patched, done):
        cells[i][j] = da.from_delayed(patched[i, j], shape=(1, 1), dtype=object)
        certificates[i, j] = c[0, 0]
    return [k for k in boxes if k not in patched]


def fill_dask(x, *, interval, nodata, window, overlay, dtype, method=None, smoothing=None, tension=None, halo=None,
              max_halo=None, accept_uncertain=False):
    """The whole run's result over the dask array x (2-D): returns (the persisted dask array, (minimum,
    maximum) of its values, the first halo, how many blocks ran again)."""
    params = dict(interval=interval, nodata=nodata, window=window, overlay=overlay, dtype=dtype, method=method,
                  smoothing=smoothing, tension=tension)
    if x.ndim != 2:
        raise ValueError(f"contours must be a 2-D array, not {x.ndim}-D")
    if any(np.isnan(n) for sizes in x.chunks for n in sizes):
        raise ValueError("contours has unknown chunk sizes (a selection by values): call "
                         "contours.compute_chunk_sizes() first")
    # The arguments checked before any work, on a block without pixels.
    _core.survey(np.empty((0, 0), x.dtype), row0=0, col0=0, **params)
    raster = tuple(int(n) for n in x.shape)
    if max(raster) > 2**31 - 1:
        raise ValueError(f"contours has more than {2**31 - 1} rows or columns")
    # No halo is wider than the int range (nor needs to be: it would hold the whole raster).
    max_halo = DEFAULT_MAX_HALO if max_halo is None else min(int(max_halo), 2**31 - 1)

    counts = ((1,) * len(x.chunks[0]), (1,) * len(x.chunks[1]))
    surveys = x.map_blocks(_survey, dtype=object, chunks=counts, meta=np.empty((0, 0), object), params=params).compute()
    halo, borders, across = _core.plan_blocks(list(surveys.flat), raster=raster, row_starts=_starts(x.chunks[0]),
                                      col_starts=_starts(x.chunks[1]), halo=halo, max_halo=max_halo,
                                      interval=interval, window=window)
    fit = None
    if method == "spline":
        # A block is fitted with its halo and with the next one: the next one is the block's reach.
        fit = dict(zip(("smoothing", "tension"), _core.fitted_params(
            lambda r, c, rows, cols: np.asarray(x[r:r + rows, c:c + cols].compute()), raster=raster,
            interval=interval, nodata=nodata, method=method, smoothing=smoothing, tension=tension)))
        fit["wider"] = lambda h: _core.next_halo(h, raster=raster, max_halo=max_halo) or h
        # The ranges of the holes' borders, the bound the surface keeps in every hole of the whole raster.
        holes = [x.map_blocks(_ranges, dtype=np.int32, meta=np.empty((0, 0), np.int32), borders=borders,
                              across=len(x.chunks[1]), params=params, which=k) for k in (0, 1)]
    else:
        # The values of the holes of one value, which every block takes as data whatever its halo.
        holes = [x.map_blocks(_holes, dtype=np.int32, meta=np.empty((0, 0), np.int32), borders=borders,
                              across=len(x.chunks[1]), params=params)]
    reach = fit["wider"](halo) if fit else halo

    # Every block at least as large as its reach (map_overlap takes it from the neighbouring blocks only).
    depth = {0: min(reach, raster[0]), 1: min(reach, raster[1])}
    chunks = tuple(ensure_minimum_chunksize(d, c) if d else c for d, c in zip(depth.values(), x.chunks))
    x, holes = x.rechunk(chunks), [h.rechunk(chunks) for h in holes]
    starts = (_starts(x.chunks[0]), _starts(x.chunks[1]))
    counts = ((1,) * len(x.chunks[0]), (1,) * len(x.chunks[1]))
    # Without a hole of one value across a seam, the first run of the blocks leaves the holes' values out.
    first = holes if fit or across else []
    if not first:
        log.info("tesk.fill: no hole of one value crosses a seam between blocks: the blocks run first without "
                 "the holes' values")
    tiles = da.map_overlap(_tile_block, x, *first, depth=depth, boundary="none", trim=False, allow_rechunk=False,
                           dtype=object, chunks=counts, meta=np.empty((0, 0), object), raster=raster, starts=starts,
                           halo=halo, params=params, fit=fit).persist()
    certificates = tiles.map_blocks(_certificate, dtype=object, meta=np.empty((0, 0), object)).compute()

    cells = [[tiles[i:i + 1, j:j + 1] for j in range(len(counts[1]))] for i in range(len(counts[0]))]
    failing = [(i, j) for (i, j), c in np.ndenumerate(certificates) if not c[0]]
    redone, kept = len(failing), []
    # Each block retries by the tiles' rule: the box of its unproven pixels alone with each wider halo where that
    # pays, else the block whole; when the boxes reach the largest halo, the block resumes whole from its last.
    retries = {k: (halo, halo, True) for k in failing}
    while failing:
        boxes, runs, ended = {}, {}, []
        for i, j in failing:
            c, core = certificates[i, j], _core_of(starts, i, j)
            box = c[4] if fit is None and c[4] is not None and c[5] else None
            step = _core.next_attempt(retries[i, j], core, box, raster=raster, max_halo=max_halo)
            if step is None:
                ended.append((i, j))
                continue
            kind, retries[i, j] = step
            h = retries[i, j][0]
            if kind == "box":
                window = _extent(raster, box, h)
                boxes[i, j] = dask.delayed(_tile)(x[window], holes[0][window], raster, box, h, params)
            else:
                runs[i, j] = _whole_run(x, holes, raster, starts, (i, j), h, params, fit)
        if ended and not accept_uncertain:
            i, j = ended[0]
            raise ValueError(_core.unproven_message(_core_of(starts, i, j), uncertain=certificates[i, j][1],
                                                    halo=retries[i, j][0], max_halo=max_halo, method=method))
        kept += ended
        if not boxes and not runs:
            break
        log.info("tesk.fill: %d of %d blocks not proven, run again: %d by the box of their unproven pixels, %d whole, "
                 "with halos %s", len(failing), certificates.size, len(boxes), len(runs),
                 sorted({retries[k][0] for k in [*boxes, *runs]}))
        boxes = dict(zip(boxes, dask.persist(*boxes.values())))
        runs = dict(zip(runs, dask.persist(*runs.values())))
        failing = _take_boxes(boxes, cells, certificates, starts) if boxes else []
        done = dask.compute(*[dask.delayed(_certificate)(dask.delayed(_cell)(r)) for r in runs.values()])
        for (i, j), c in zip(runs, done):
            certificates[i, j] = c[0, 0]
            cells[i][j] = da.from_delayed(dask.delayed(_cell)(runs[i, j]), shape=(1, 1), dtype=object)
        failing = sorted(failing + [k for k, c in zip(runs, done) if not c[0, 0][0]])
    if kept:
        warnings.warn(_core.uncertain_note([(_core_of(starts, i, j), certificates[i, j][1]) for i, j in kept],
                                           method=method),
                      UserWarning, stacklevel=3)

    lo = min(c[2] for c in certificates.flat)
    hi = max(c[3] for c in certificates.flat)
    _core.check_result_type(lo, hi, dtype)
    if redone:
        tiles = da.block(cells)
    out = np.dtype("float32" if dtype is None else dtype).newbyteorder("=")
    dem = tiles.map_blocks(_values, dtype=out, chunks=x.chunks, meta=np.empty((0, 0), out)).persist()
    return dem, (lo, hi), halo, redone

"""TESK: digital elevation models from rasters of contour lines."""
from typing import Callable, Literal, Optional, Tuple, Union, overload

import numpy as np
import numpy.typing as npt

__version__: str

class Stats:
    """What a fill did: its passes and sweeps, and the range of its result."""
    @property
    def passes(self) -> int: """Dilation passes, the last one writing nothing."""
    @property
    def growth_sweeps(self) -> int: """Growth sweeps over the grid, all passes."""
    @property
    def gap_sweeps(self) -> int: """Sweeps of the residual gap filling."""
    @property
    def minimum(self) -> int: """Smallest value of the whole-unit result."""
    @property
    def maximum(self) -> int: """Largest value of the whole-unit result."""

@overload
def fill(contours: npt.ArrayLike, *, interval: int, nodata: Optional[float] = None, window: int = 1,
         overlay: bool = True, threads: Optional[int] = None, full_resolution: bool = False,
         progress: Optional[Callable[[float], object]] = None, return_stats: Literal[False] = False) -> np.ndarray: ...
@overload
def fill(contours: npt.ArrayLike, *, interval: int, nodata: Optional[float] = None, window: int = 1,
         overlay: bool = True, threads: Optional[int] = None, full_resolution: bool = False,
         progress: Optional[Callable[[float], object]] = None,
         return_stats: Literal[True]) -> Tuple[np.ndarray, Stats]: ...
def fill(contours: npt.ArrayLike, *, interval: int, nodata: Optional[float] = None, window: int = 1,
         overlay: bool = True, threads: Optional[int] = None, full_resolution: bool = False,
         progress: Optional[Callable[[float], object]] = None,
         return_stats: bool = False) -> Union[np.ndarray, Tuple[np.ndarray, Stats]]:
    """Turns a raster of contour lines into a digital elevation model.

    contours: 2-D array of any integer type, float32 or float64, any memory layout; never modified.
        Contour pixels hold their altitude, the others the no-data value.
    interval: the contour interval, in the samples' altitude units (not 0).
    nodata: the value off the contours, a value of the array's dtype; required for integer arrays.
        NaN is always no-data in a floating-point array; nodata adds one more value.
    window: smoothing window, 1 (no smoothing) to 33.
    overlay: lay the contour pixels back on the result.
    threads: worker threads, 1 to 1024; None: every core.  The result does not depend on it.
    full_resolution: False: the input's dtype in whole units, as the command line writes them;
        True: float64, internal value x interval / 512, as the command line's -ot Float64.
    progress: called on the calling thread with the fraction done, 0 to 1; an exception it raises
        stops the run.
    return_stats: also return a Stats.

    Raises TypeError (dtype), ValueError (bad argument, no contour pixel, value too large for the
    interval), MemoryError (before anything is allocated).
    """

def preview(dem: npt.ArrayLike) -> npt.NDArray[np.uint8]:
    """The 8-bit preview of a 2-D array, stretched from its minimum to its maximum as --preview does;
    floating-point samples are taken at their whole part.  NaN and infinite pixels (holes) are 0 and the
    stretch runs over the finite ones; without a finite value, all 0."""

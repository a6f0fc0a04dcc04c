"""The compiled core of tesk; the package's fill and preview document it."""
from typing import Callable, List, Optional, Tuple, Union

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
    def minimum(self) -> Union[int, float]: """Smallest value of the result, in its units (int for an integer dtype)."""
    @property
    def maximum(self) -> Union[int, float]: """Largest value of the result, in its units (int for an integer dtype)."""

def fill(contours: npt.ArrayLike, *, interval: int, nodata: Optional[float], window: int, overlay: bool,
         dtype: npt.DTypeLike, threads: Optional[int],
         progress: Optional[Callable[[float], object]]) -> Tuple[np.ndarray, Stats]: ...
def fill_tile(block: np.ndarray, *, raster: Tuple[int, int], core: Tuple[int, int, int, int], halo: int,
              interval: int, nodata: Optional[float], window: int, overlay: bool,
              dtype: npt.DTypeLike) -> Tuple[Optional[np.ndarray], bool, int, float, float]: ...
def survey(block: np.ndarray, *, row0: int, col0: int, interval: int, nodata: Optional[float], window: int,
           overlay: bool, dtype: npt.DTypeLike) -> Tuple[bool, Optional[Tuple[int, int, str]], int]: ...
def check_result_type(minimum: float, maximum: float, dtype: npt.DTypeLike) -> None: ...
def preview(dem: npt.ArrayLike) -> npt.NDArray[np.uint8]: ...
def run(src: str, dst: str, *, interval: int, window: int, overlay: bool, nodata: Optional[float],
        band: Optional[int], attribute: str, layer: str, pixel_size: Optional[Tuple[float, float]],
        size: Optional[Tuple[int, int]], extent: Optional[Tuple[float, float, float, float]], mask: Optional[str],
        output_type: Optional[str], format: Optional[str], creation_options: List[str], preview: Optional[str],
        hillshade: Optional[str], hillshade_z: float, overwrite: bool, threads: Optional[int],
        progress: Optional[Callable[[float], object]]) -> Stats: ...

"""The compiled core of tesk; the package's fill, preview and run document it."""
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

__version__: str

Words = Optional[Callable[[str, str, str], str]]  # (parameter, form, value) -> how a message spells it
Survey = Tuple[Any, ...]  # a block's survey, plain values

class Stats:
    """What a run did: its passes and sweeps, and the range of its result."""
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
         dtype: npt.DTypeLike, threads: Optional[int], method: Optional[str],
         progress: Optional[Callable[[float], object]]) -> Tuple[np.ndarray, Stats]: ...
def preview(dem: npt.ArrayLike) -> npt.NDArray[np.uint8]: ...
def survey(block: np.ndarray, *, row0: int, col0: int, interval: int, nodata: Optional[float], window: int,
           overlay: bool, dtype: npt.DTypeLike, method: Optional[str]) -> Survey: ...
def plan_blocks(surveys: List[Survey], *, raster: Tuple[int, int], halo: Optional[int], max_halo: int, interval: int,
                window: int) -> Tuple[int, List[np.ndarray], bool]: ...
def next_halo(halo: int, *, raster: Tuple[int, int], max_halo: int) -> Optional[int]: ...
def next_attempt(state: Tuple[int, int, bool], core: Tuple[int, int, int, int],
                 box: Optional[Tuple[int, int, int, int]], *, raster: Tuple[int, int],
                 max_halo: int) -> Optional[Tuple[str, Tuple[int, int, bool]]]: ...
def unproven_message(core: Tuple[int, int, int, int], *, uncertain: int, halo: int, max_halo: int,
                     method: Optional[str] = None) -> str: ...
def uncertain_note(blocks: Sequence[Tuple[Tuple[int, int, int, int], int]], *, method: Optional[str] = ...) -> str: ...
def tile_extent(raster: Tuple[int, int], core: Tuple[int, int, int, int], halo: int) -> Tuple[int, int, int, int]: ...
def fill_tile(block: np.ndarray, *, raster: Tuple[int, int], core: Tuple[int, int, int, int], halo: int,
              interval: int, nodata: Optional[float], window: int, overlay: bool, dtype: npt.DTypeLike,
              method: Optional[str], smoothing: Optional[float], tension: Optional[float],
              holes: Optional[np.ndarray] = None) -> Tuple[Optional[np.ndarray], bool, int, float, float,
                                                          Tuple[int, int, int, int]]: ...
def fitted_params(read: Callable[[int, int, int, int], np.ndarray], *, raster: Tuple[int, int], interval: int,
                  nodata: Optional[float], method: Optional[str], smoothing: Optional[float],
                  tension: Optional[float]) -> Tuple[float, float, bool, int]: ...
def hole_ranges(block: np.ndarray, borders: np.ndarray, *, interval: int, nodata: Optional[float],
                method: Optional[str]) -> Tuple[np.ndarray, np.ndarray]: ...
def fit_tile(block: np.ndarray, lo: np.ndarray, hi: np.ndarray, *, raster: Tuple[int, int],
             core: Tuple[int, int, int, int], halo: int, wider: int, smoothing: float, tension: float, interval: int,
             nodata: Optional[float], overlay: Optional[bool],
             dtype: npt.DTypeLike) -> Tuple[Optional[np.ndarray], bool, int, float, float]: ...
def check_result_type(minimum: float, maximum: float, dtype: npt.DTypeLike) -> None: ...
def run(src: str, dst: str, options: Dict[str, Any], *, words: Words,
        progress: Optional[Callable[[float], object]]) -> Stats: ...
def command_line(src: str, dst: str, options: Dict[str, Any]) -> str: ...

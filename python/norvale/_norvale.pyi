"""The compiled part of norvale: event files and cameras, with events as NumPy arrays."""
import datetime
import os
from typing import Any, Callable, Dict, Iterator, Optional, Sequence, Union

import numpy as np
import numpy.typing as npt

__version__: str
#: t uint64 (us), x uint16, y uint16, p uint8 (1 ON, 0 OFF); 16 bytes per event.
EVENT_DTYPE: np.dtype
#: t uint64 (us), p uint8 (1 rising, 0 falling), id uint8 (channel).
TRIGGER_DTYPE: np.dtype

_Path = Union[str, bytes, os.PathLike]
_Time = Union[int, float, np.integer]
_Progress = Optional[Callable[[float], Optional[bool]]]
_Columns = Union[npt.NDArray[np.void], Sequence[npt.ArrayLike]]

class SliceIterator(Iterator[npt.NDArray[np.void]]):
    def __iter__(self) -> SliceIterator: ...
    def __next__(self) -> npt.NDArray[np.void]: ...
    def __length_hint__(self) -> int: ...

class ChunkIterator(Iterator[npt.NDArray[np.void]]):
    def __iter__(self) -> ChunkIterator: ...
    def __next__(self) -> npt.NDArray[np.void]: ...

class RawFile:
    """A raw event recording, opened and indexed. Ranges are half-open: start_us <= t < end_us."""
    def __init__(self, path: _Path) -> None: ...
    @property
    def info(self) -> Dict[str, Any]:
        """path, format, width, height, serial, start_time (datetime), dvs_start_timestamp,
        first_timestamp, last_timestamp, events, on, off, triggers, data_bytes."""
    @property
    def start(self) -> Optional[int]: ...
    @property
    def end(self) -> Optional[int]: ...
    @property
    def closed(self) -> bool: ...
    def read(self, start_us: _Time, end_us: _Time) -> npt.NDArray[np.void]:
        """Events of [start_us, end_us) in time order (EVENT_DTYPE)."""
    def read_all(self, *, threads: Optional[int] = None,
                 out: Optional[npt.NDArray[np.void]] = None) -> npt.NDArray[np.void]:
        """Every event in time order; into out (EVENT_DTYPE, room for them all) when given."""
    def triggers(self) -> npt.NDArray[np.void]:
        """Trigger edges (TRIGGER_DTYPE)."""
    def slices(self, duration_us: _Time, *, start_us: Optional[_Time] = None,
               end_us: Optional[_Time] = None) -> SliceIterator:
        """Events of consecutive windows of duration_us, one window in memory at a time."""
    def chunks(self, n_events: int, *, start_us: Optional[_Time] = None,
               end_us: Optional[_Time] = None) -> ChunkIterator:
        """Events in arrays of n_events (the last may be shorter), each event exactly once."""
    def rate_profile(self) -> Dict[str, Any]:
        """start_us, slot_us and counts (uint32 array of events per slot)."""
    def largest_gap(self) -> Optional[tuple[int, int]]:
        """(before_us, after_us) of the longest stretch without events; None when there is none to name."""
    def __reduce__(self) -> tuple[Any, tuple[str]]: ...
    def cut(self, start_us: _Time, end_us: _Time, out_path: _Path, progress: _Progress = None) -> bool:
        """A new file of this file's format (else EVT 3.0) with [start_us, end_us); False when progress
        returned False."""
    def convert(self, out_path: _Path, start_us: Optional[_Time] = None, end_us: Optional[_Time] = None,
                format: Optional[str] = None, overwrite: bool = False, progress: _Progress = None,
                compress: bool = False) -> bool:
        """[start_us, end_us) into a new file of format (None: from out_path's extension), exactly;
        a UserWarning names trigger edges the format cannot hold. False when progress returned False.
        compress: HDF5 with shuffle + gzip instead of plain chunks."""
    def export_video(self, out_path: _Path, start_us: Optional[_Time] = None, end_us: Optional[_Time] = None,
                     fps: int = 30, acc_us: _Time = 33333, colors: str = "gray",
                     progress: _Progress = None) -> bool:
        """An MP4 of [start_us, end_us); False when progress returned False."""
    def close(self) -> None: ...
    def __enter__(self) -> RawFile: ...
    def __exit__(self, *args: Any) -> None: ...

def open(path: _Path) -> RawFile:
    """Opens an event file of any readable format (found from its content) as a RawFile."""

def write(path: _Path, events: _Columns, triggers: Optional[_Columns] = None,
          width: int = 1280, height: int = 720, format: Optional[str] = None, compress: bool = False) -> None:
    """Writes an event file in format ("evt3", "evt2", "evt21", "dat", ...; None: from the
    extension, else EVT 3.0); refuses (ValueError, nothing written) what the format cannot hold and
    warns (UserWarning) of trigger edges it cannot store. compress: HDF5 with shuffle + gzip."""

def generate(path: _Path, duration_s: float, rate_mevs: float, seed: int = 1,
             triggers_hz: float = 0) -> None:
    """Writes a synthetic recording."""

def cameras() -> list[Dict[str, Any]]:
    """Every camera: serial, product, manufacturer, link, camera_ip, local_ip, netmask, gateway,
    mac_address, firmware, fusion."""

class CameraTool:
    """One tool's parameters as a mapping; KeyError, TypeError or ValueError when refused."""
    @property
    def name(self) -> str: ...
    @property
    def info(self) -> Dict[str, Dict[str, Any]]:
        """Per parameter: description, type, min/max or options, unit, default."""
    def keys(self) -> list[str]: ...
    def items(self) -> list[tuple[str, Union[int, float, bool, str]]]: ...
    def __getitem__(self, name: str) -> Union[int, float, bool, str]: ...
    def __setitem__(self, name: str, value: Union[int, float, bool, str]) -> None: ...
    def __contains__(self, name: str) -> bool: ...
    def __iter__(self) -> Iterator[str]: ...
    def __len__(self) -> int: ...

class Camera:
    """An open DVS or fusion camera, or the UDP event stream of "udp://ADDRESS:PORT"; ValueError for
    an unknown serial, a bad address or one open already."""
    def __init__(self, serial: str, width: int = 1280, height: int = 720,
                 format: str = "t64_x16_y16_on8") -> None: ...
    @property
    def stream_loss(self) -> Dict[str, int]: ...
    def start(self) -> None: ...
    def stop(self) -> None: ...
    def next_batch(self, timeout: float = 1.0) -> npt.NDArray[np.void]:
        """Events since the last call (EVENT_DTYPE), waiting up to timeout seconds for some."""
    def next_frame(self, timeout: float = 1.0) -> Optional[tuple[int, npt.NDArray[np.uint8]]]:
        """A fusion camera's next APS image: (t in us, read-only aps_height x aps_width x 3 array,
        blue-green-red), None when none came within timeout seconds."""
    def record(self, path: _Path, overwrite: bool = False) -> None:
        """Refuses an existing file unless overwrite; replaces it only once the recording succeeded."""
    def stop_recording(self) -> int:
        """Finishes the recording; the number of events in its file."""
    @property
    def tools(self) -> Dict[str, CameraTool]: ...
    @property
    def description(self) -> Dict[str, Any]: ...
    @property
    def fusion(self) -> bool: ...
    @property
    def width(self) -> int: ...
    @property
    def height(self) -> int: ...
    @property
    def connected(self) -> bool: ...
    @property
    def recorded_events(self) -> int: ...
    @property
    def delivered_events(self) -> int: ...
    @property
    def dropped_events(self) -> int: ...
    @property
    def aps_width(self) -> Optional[int]: ...
    @property
    def aps_height(self) -> Optional[int]: ...
    @property
    def aps_frame_rate(self) -> Optional[float]: ...
    @property
    def recorded_frames(self) -> Optional[int]: ...
    @property
    def dropped_frames(self) -> Optional[int]: ...
    def close(self) -> None: ...
    def __enter__(self) -> Camera: ...
    def __exit__(self, *args: Any) -> None: ...

def formats() -> list[Dict[str, Any]]:
    """Every format: key, name, extension, extensions, writable, holds_triggers."""
def set_log_level(level: str) -> None:
    """What the driver prints: "trace", "debug", "info", "warning", "error" or "off"."""

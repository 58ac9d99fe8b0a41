"""One native library of a kind per process: the process binds the C library and the driver
once, so a second load returns the first, and a load of another file is refused."""

from __future__ import annotations

import os
import threading
from typing import Callable, Generic, Optional, Protocol, TypeVar

__all__ = ["LoadedOnce"]


class _Loaded(Protocol):
    path: str


T = TypeVar("T", bound=_Loaded)


class LoadedOnce(Generic[T]):
    """The one library of a kind this process has loaded, if any."""

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self.value: Optional[T] = None

    def get(
        self, path: Optional[str], load: Callable[[], T], refuse: Callable[[str], Exception]
    ) -> T:
        """The library loaded before, else the one ``load()`` returns. ``path``, when given,
        must name the file loaded before: otherwise ``refuse(that file)`` is raised."""
        with self._lock:
            if self.value is None:
                self.value = load()
            elif path is not None and os.path.realpath(path) != os.path.realpath(self.value.path):
                raise refuse(self.value.path)
            return self.value

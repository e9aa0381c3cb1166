# SPDX-License-Identifier: Apache-2.0
"""Operate a Karo servo-electric gripper over TCP, UDP, a serial line or CAN."""

from typing import Iterator, List, Literal, NamedTuple, Optional, overload

__version__: str

class Error(Exception):
    """Base of every error the gripper or its link reports."""

class GripperError(Error):
    """The gripper answered with an error status."""
    status: int
    name: str
    text: str
    def __init__(self, message: str, status: int, name: str, text: str) -> None: ...

class NoReply(Error, TimeoutError):
    """No reply within the reply time-out, or no final result within the time-out."""

class LinkError(Error, ConnectionError):
    """The link could not be opened, was lost, or the gripper was closed."""

class SystemInfo(NamedTuple):
    type: int
    hardware_revision: int
    firmware_revision: int
    serial_number: int

class SystemLimits(NamedTuple):
    stroke: float
    min_speed: float
    max_speed: float
    min_acceleration: float
    max_acceleration: float
    min_force: float
    max_force: float

class GraspingStats(NamedTuple):
    grasps: int
    not_found: int
    lost: int

class SystemState(NamedTuple):
    value: int
    flags: List[str]

class GraspingState(NamedTuple):
    value: int
    text: str

class Result(NamedTuple):
    status: int
    text: str

class Reply(NamedTuple):
    status: int
    data: bytes

class Update(NamedTuple):
    kind: str  # "system_state" | "grasping_state" | "position"
    value: float  # int for the states, mm for the position
    time: float  # seconds since the updates were switched on

def status_text(code: int) -> str: ...
def command_name(id: int) -> str: ...

class Motion:
    """A motion that was started with wait=False."""
    @property
    def done(self) -> bool: ...
    def wait(self, timeout: Optional[float] = None) -> Result: ...

class Updates(Iterator[Update]):
    def __iter__(self) -> "Updates": ...
    def __next__(self) -> Update: ...
    def close(self) -> None: ...

class Gripper:
    """One gripper on one link; target as karo-cli takes it."""
    acceleration: float  # mm/s²
    force_limit: float  # N
    def __init__(self, target: str, timeout: float = 30.0) -> None: ...
    def close(self) -> None: ...
    def __enter__(self) -> "Gripper": ...
    def __exit__(self, *args: object) -> None: ...
    def info(self) -> SystemInfo: ...
    def limits(self) -> SystemLimits: ...
    def stats(self, reset: bool = False) -> GraspingStats: ...
    def system_state(self) -> SystemState: ...
    def grasping_state(self) -> GraspingState: ...
    def position(self) -> float: ...
    # Motions wait for their final result; with wait=False they return a Motion at once.
    @overload
    def home(self, wait: Literal[True] = True) -> Result: ...
    @overload
    def home(self, wait: Literal[False]) -> Motion: ...
    @overload
    def move(self, position: float, speed: float, wait: Literal[True] = True) -> Result: ...
    @overload
    def move(self, position: float, speed: float, wait: Literal[False]) -> Motion: ...
    @overload
    def grasp(self, width: float, speed: float, wait: Literal[True] = True) -> Result: ...
    @overload
    def grasp(self, width: float, speed: float, wait: Literal[False]) -> Motion: ...
    @overload
    def release(self, width: float, speed: float, wait: Literal[True] = True) -> Result: ...
    @overload
    def release(self, width: float, speed: float, wait: Literal[False]) -> Motion: ...
    def stop(self) -> None: ...
    def fast_stop(self) -> None: ...
    def ack_fast_stop(self) -> None: ...
    def send(self, id: int, data: bytes = b"") -> Reply: ...
    def updates(self, seconds: Optional[float] = None) -> Updates: ...

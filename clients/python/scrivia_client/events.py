"""The lines scrivia writes on its standard output, as typed values."""

from __future__ import annotations

import json
from dataclasses import dataclass
from importlib import resources
from typing import Any, Callable, ClassVar, Union


@dataclass(frozen=True)
class Locales:
    """The catalogue, the one line of a ``--list`` run."""

    kind: ClassVar[str] = "locales"
    locales: tuple[str, ...]
    on_device: tuple[str, ...]


@dataclass(frozen=True)
class Ready:
    """The microphone runs and recognition listens."""

    kind: ClassVar[str] = "ready"
    locale: str
    on_device: bool


@dataclass(frozen=True)
class Level:
    """Microphone level, 0..1 in hundredths; drives a meter."""

    kind: ClassVar[str] = "level"
    value: float


@dataclass(frozen=True)
class Partial:
    """The text of the current segment so far; replaces the previous partial."""

    kind: ClassVar[str] = "partial"
    text: str


@dataclass(frozen=True)
class Final:
    """Settled text of a segment: trimmed, never empty. ``line_breaks_before``
    (0 to 2) is the line feeds the person asked for before it; a
    :class:`~scrivia_client.transcript.Transcript` joins finals with them."""

    kind: ClassVar[str] = "final"
    text: str
    line_breaks_before: int = 0


@dataclass(frozen=True)
class Error:
    """A fatal error; ``message`` is French, for the user. ``End`` follows."""

    kind: ClassVar[str] = "error"
    code: str
    message: str


@dataclass(frozen=True)
class End:
    """The last line of every run but ``--list``."""

    kind: ClassVar[str] = "end"


Event = Union[Locales, Ready, Level, Partial, Final, Error, End]

# The project's one list of error codes (docs/errors.json), shipped in the package.
ERROR_TEXTS = {
    e["code"]: e["english"]
    for e in json.loads(resources.files(__package__).joinpath("errors.json").read_text("utf-8"))["errors"]
}


def error_text(code: str) -> str:
    """English text for an error code; a newer scrivia's unknown code gets a generic one."""
    return ERROR_TEXTS.get(code, f"Dictation failed ({code})")


def _strings(value: Any) -> tuple[str, ...]:
    if not isinstance(value, list) or not all(isinstance(v, str) for v in value):
        raise TypeError
    return tuple(value)


def _text(value: Any) -> str:
    if not isinstance(value, str):
        raise TypeError
    return value


def _flag(value: Any) -> bool:
    if not isinstance(value, bool):
        raise TypeError
    return value


def _number(value: Any) -> float:
    # JSON's true would pass as the number 1 otherwise.
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise TypeError
    return float(value)


# Each kind's builder from the decoded object; a member missing or of the
# wrong type raises KeyError or TypeError. Extra members are ignored, so a
# newer scrivia's additions do not cost the host its events. Unknown error
# codes pass: dropping the line would hide a fatal error.
_BUILDERS: dict[str, Callable[[dict[str, Any]], Event]] = {
    "locales": lambda o: Locales(_strings(o["locales"]), _strings(o["onDevice"])),
    "ready": lambda o: Ready(_text(o["locale"]), _flag(o["onDevice"])),
    "level": lambda o: Level(_number(o["value"])),
    "partial": lambda o: Partial(_text(o["text"])),
    "final": lambda o: Final(_text(o["text"]), int(_number(o.get("lineBreaksBefore", 0)))),
    "error": lambda o: Error(_text(o["code"]), _text(o["message"])),
    "end": lambda o: End(),
}


def parse_event(line: str | bytes) -> Event | None:
    """Reads one line of scrivia's output.

    Returns None for anything that is not a known event with its members, so
    a host survives garbage or a newer scrivia's new kinds.
    """
    try:
        value = json.loads(line)
        return _BUILDERS[value["type"]](value)
    except (ValueError, TypeError, KeyError):
        return None

"""Client for host applications of scrivia: run it, read its events, stop it."""

from .binary import ScriviaNotFound, find_scrivia
from .events import ERROR_TEXTS, End, Error, Event, Final, Level, Locales, Partial, Ready, error_text, parse_event
from .locales import ScriviaFailed, list_locales, pick_locale
from .session import Session, run_scrivia, scrivia_arguments, start_scrivia
from .transcript import Transcript

__all__ = [
    "ERROR_TEXTS",
    "End",
    "Error",
    "Event",
    "Final",
    "Level",
    "Locales",
    "Partial",
    "Ready",
    "ScriviaFailed",
    "ScriviaNotFound",
    "Session",
    "Transcript",
    "error_text",
    "find_scrivia",
    "list_locales",
    "parse_event",
    "pick_locale",
    "run_scrivia",
    "scrivia_arguments",
    "start_scrivia",
]

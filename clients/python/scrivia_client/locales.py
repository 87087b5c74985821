"""The catalogue of locales that scrivia can recognise here."""

from __future__ import annotations

import asyncio
import os
from typing import Mapping, Sequence

from .events import Error, Locales, error_text
from .session import run_scrivia


class ScriviaFailed(RuntimeError):
    """scrivia ended without what was asked of it."""


async def list_locales(
    binary: str | os.PathLike[str] | None = None,
    env: Mapping[str, str] | None = None,
    timeout: float = 10.0,
) -> Locales:
    """Runs ``scrivia --list``; raises :class:`ScriviaFailed` if it fails or
    says nothing within ``timeout`` seconds."""
    session = await run_scrivia(["--list"], binary, env)
    catalogue: Locales | None = None
    failure = ""

    async def read() -> None:
        nonlocal catalogue, failure
        async for event in session:
            if isinstance(event, Locales):
                catalogue = event
            elif isinstance(event, Error):
                failure = f": {error_text(event.code)} ({event.message})"

    try:
        await asyncio.wait_for(read(), timeout)
    except TimeoutError:
        session.kill()
    status = await session.wait()
    if catalogue is not None and status == 0:
        return catalogue
    raise ScriviaFailed(f"scrivia --list failed (status {status}){failure}")


def pick_locale(wanted: str, locales: Sequence[str]) -> str | None:
    """The catalogue's locale for a wanted identifier (``en_US``, ``en-us``,
    ``en``): the same one, else the first of the same language; None if none."""

    def key(locale: str) -> str:
        return locale.replace("_", "-").lower()

    def language(locale: str) -> str:
        return key(locale).split("-")[0]

    return next((l for l in locales if key(l) == key(wanted)), None) or next(
        (l for l in locales if language(l) == language(wanted)), None
    )

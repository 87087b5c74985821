"""Where the scrivia executable is found."""

from __future__ import annotations

import os
import shutil
from pathlib import Path

# The development build of the repository this package sits in
# (clients/python/scrivia_client/ is three levels below the root); none for
# an installed copy.
_ROOT = Path(__file__).resolve().parents[3]
DEV_BUILD = _ROOT / "build" / "scrivia" if (_ROOT / "clients" / "python" / "scrivia_client").is_dir() else None


class ScriviaNotFound(FileNotFoundError):
    """No scrivia executable was found; the message names every place tried."""


def find_scrivia(binary: str | os.PathLike[str] | None = None) -> str:
    """The executable to run: ``binary``, else ``$SCRIVIA_BINARY``, else
    ``scrivia`` on ``PATH``, else the repository's ``build/scrivia``.

    A name without a slash is looked up on ``PATH``. The first of ``binary``
    and ``$SCRIVIA_BINARY`` that is given decides: a wrong one is an error,
    not a quiet fall back to another scrivia.
    """
    tried: list[str] = []
    for place, name in (("the binary argument", binary), ("$SCRIVIA_BINARY", os.environ.get("SCRIVIA_BINARY"))):
        if name:
            found = shutil.which(name)
            if found:
                return os.fspath(found)
            raise ScriviaNotFound(f"scrivia not found: {os.fspath(name)!r} ({place}) is no executable")
        tried.append(f"{place} (not given)")
    found = shutil.which("scrivia")
    if found:
        return found
    tried.append(f"scrivia on PATH ({os.environ.get('PATH', '')})")
    if DEV_BUILD is not None:
        if os.access(DEV_BUILD, os.X_OK) and DEV_BUILD.is_file():
            return str(DEV_BUILD)
        tried.append(f"{DEV_BUILD} (this repository's build)")
    raise ScriviaNotFound("scrivia not found; tried " + ", ".join(tried))

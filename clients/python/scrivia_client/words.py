"""The person's own words reach scrivia as a file named on its command line:
readable by this user alone, and gone once scrivia has exited."""

from __future__ import annotations

import atexit
import os
import shutil
import tempfile
from typing import Iterable

# Folders not yet removed, for an interpreter that exits before their scrivia did.
_left: set[str] = set()


@atexit.register
def _remove_left() -> None:
    for folder in list(_left):
        shutil.rmtree(folder, ignore_errors=True)


def word_entries(words: Iterable[str] | None) -> list[str]:
    """The entries as a list; raises for one that is no single line of text,
    since a line break would quietly make two entries of it."""
    if isinstance(words, (str, bytes)):
        raise TypeError("words is a list of entries, not one string")
    entries = list(words or ())
    for entry in entries:
        if not isinstance(entry, str):
            raise TypeError(f"a words entry is a str, not {type(entry).__name__}")
        if "\n" in entry or "\r" in entry:
            raise ValueError(f"a words entry must be one line of text: {entry!r}")
    return entries


class WordsFile:
    """``entries`` written to a new file in a new private folder."""

    def __init__(self, entries: list[str]) -> None:
        self._folder = tempfile.mkdtemp(prefix="scrivia-words-")  # only this user may enter
        _left.add(self._folder)
        self.path = os.path.join(self._folder, "words.txt")
        try:
            # Created new, never through something already there.
            fd = os.open(self.path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
            with open(fd, "w", encoding="utf-8", newline="\n") as file:
                file.write("".join(f"{entry}\n" for entry in entries))
        except BaseException:
            self.remove()
            raise

    def remove(self) -> None:
        """Safe to call more than once."""
        shutil.rmtree(self._folder, ignore_errors=True)
        _left.discard(self._folder)

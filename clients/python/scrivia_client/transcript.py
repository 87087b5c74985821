"""The finals of a run joined into the text the person dictated, ready to
paste: what a host that inserts text needs, and what the live view shows."""

from __future__ import annotations

import re

from .events import Final

# A closing full stop that also ends "U.S." belongs to the abbreviation.
_DOTTED_ABBREVIATION = re.compile(r"(?:[^\W\d_]\.){2}$")


class Transcript:
    """Joins finals: a space between two, none before a final that starts with
    ``, ; : . ? ! )``, and the line feeds of ``line_breaks_before`` (then no
    space). A final that starts with one of ``, ; : . ? !`` takes the place of
    the closing full stop before it (``selfish.`` and ``, was it`` give
    ``selfish, was it``); only a full stop gives way, as scrivia closes every
    final with one. A mark said again (``,`` after ``,``), or a closing mark
    after ``?`` or ``!``, is written once: the first stands."""

    def __init__(self) -> None:
        self._text = ""

    def add(self, final: Final) -> str:
        """Adds the next final written; returns the whole text."""
        text = final.text
        if not text:
            return self._text
        breaks = max(0, int(final.line_breaks_before))
        mark = text[0] if text[0] in ",;:.?!" else ""
        last = self._text[-1:]
        if breaks or not self._text:
            self._text += "\n" * breaks
        elif mark and last == "." and not _DOTTED_ABBREVIATION.search(self._text):
            self._text = self._text[:-1]
        elif mark and (mark == last or (last in "?!" and mark in ".?!")):
            text = text[1:].lstrip()
            if text:
                self._text += " "
        elif not mark and not text.startswith(")"):
            self._text += " "
        self._text += text
        return self._text

    @property
    def text(self) -> str:
        """Everything dictated so far."""
        return self._text

    @property
    def fixed(self) -> str:
        """The part of the text no later final can change: all but a closing full stop."""
        return self._text[:-1] if self._text.endswith(".") else self._text

    def __str__(self) -> str:
        return self._text

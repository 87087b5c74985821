"""Dictation shown in place in the terminal: ``python3 -m scrivia_client.live``.

The finals, joined as a :class:`Transcript`, flow up as text; beneath it a
level bar and the partial text are redrawn as they change. Ctrl-C stops in
order (the owed text still comes); a second one ends scrivia at once. Piped
into a file, it writes the text alone, and notes go to standard error.
"""

from __future__ import annotations

import argparse
import asyncio
import shutil
import signal
import sys
from typing import TextIO

from .events import Error, Event, Final, Level, Partial, Ready, error_text
from .session import start_scrivia
from .transcript import Transcript

ESC = "\x1b["


def wrap(line: str, width: int) -> list[str]:
    """``line`` in rows of at most ``width``, broken after a space where one
    fits. A row is never changed by text added at the end but for the last one."""
    rows = []
    while len(line) > width:
        space = line.rfind(" ", 0, width)
        cut = space + 1 if space > 0 else width
        rows.append(line[:cut])
        line = line[cut:]
    return rows + [line]


class LiveView:
    """Owns the bottom of the terminal: the text's last row and three status
    rows below everything printed for good. Only the last row of the text is
    redrawn: a later final may still take its closing full stop."""

    def __init__(self, out: TextIO | None = None) -> None:
        self.out = out or sys.stdout
        self.tty = self.out.isatty()
        self.status_shown = False
        self.level = 0.0
        self.partial = ""
        self.heading = "starting…"
        self.transcript = Transcript()
        self.done_lines = 0  # lines of the text printed for good
        self.done_rows = 0  # and rows of the next line
        self.piped = 0  # characters of the text written when piped

    def style(self, code: int, text: str) -> str:
        return f"{ESC}{code}m{text}{ESC}0m" if self.tty else text

    def update(self, event: Event) -> None:
        match event:
            case Ready(locale=locale, on_device=on_device):
                self.heading = f"{locale}{', on this device' if on_device else ''} · Ctrl-C stops"
            case Level(value=value):
                self.level = value
            case Partial(text=text):
                self.partial = text
            case Final():
                self.partial = ""
                self.transcript.add(event)
            case Error(code=code, message=message):
                return self.draw([self.style(31, f"{error_text(code)} ({code}): {message}")])
            case _:
                return
        self.draw([])

    def stopping(self) -> None:
        self.heading = "stopping… (Ctrl-C again to end at once)"
        self.draw([])

    def draw(self, notes: list[str], last: bool = False) -> None:
        """Writes notes and the text's new rows above the status, then the status again."""
        if not self.tty:
            for note in notes:
                print(note, file=sys.stderr, flush=True)
            text = self.transcript.text + "\n" if last else self.transcript.fixed
            if len(text) > self.piped and text != "\n":
                self.out.write(text[self.piped :])
                self.out.flush()
            self.piped = len(text)
            return
        width = max(20, shutil.get_terminal_size().columns)
        out = f"\r{ESC}3A{ESC}J" if self.status_shown else f"{ESC}?25l"
        out += "".join(f"{note}\n" for note in notes)
        lines = self.transcript.text.split("\n")
        while self.done_lines < len(lines) - 1:
            out += "".join(f"{self.style(1, row)}\n" for row in wrap(lines[self.done_lines], width - 1)[self.done_rows :])
            self.done_lines, self.done_rows = self.done_lines + 1, 0
        rows = wrap(lines[-1], width - 1)
        out += "".join(f"{self.style(1, row)}\n" for row in rows[self.done_rows : -1])
        self.done_rows = max(self.done_rows, len(rows) - 1)
        out += self.style(1, rows[-1])
        if last:
            out += f"\n{ESC}?25h"
        else:
            bar_width = min(40, width - 20)
            filled = round(min(1.0, max(0.0, self.level)) * bar_width)
            bar = f"[{'█' * filled}{' ' * (bar_width - filled)}] {self.level:.2f}"
            # One line each, so the cursor arithmetic above holds: keep the end of a long partial.
            partial = self.partial if len(self.partial) <= width - 3 else "…" + self.partial[-(width - 4) :]
            out += f"\n{self.style(2, self.heading[: width - 1])}\n{bar}\n{self.style(2, partial)}"
        self.status_shown = not last
        self.out.write(out)
        self.out.flush()


async def run(options: argparse.Namespace) -> int:
    session = await start_scrivia(
        locale=options.locale,
        pause_seconds=options.pause,
        punctuation=not options.no_punctuation,
        binary=options.binary,
    )
    view = LiveView()
    interrupts = 0
    stopping: set[asyncio.Task[int]] = set()

    def interrupted() -> None:
        nonlocal interrupts
        interrupts += 1
        if interrupts > 1:
            return session.kill()
        view.stopping()
        stopping.add(asyncio.ensure_future(session.stop(timeout=5.0)))

    loop = asyncio.get_running_loop()
    loop.add_signal_handler(signal.SIGINT, interrupted)
    try:
        async for event in session:
            view.update(event)
        status = await session.wait()
    finally:
        loop.remove_signal_handler(signal.SIGINT)
        view.draw([], last=True)
    if status < 0:
        print(f"scrivia-live: scrivia ended by {signal.Signals(-status).name}", file=sys.stderr)
        return 1
    return status


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="scrivia-live", description="Dictation shown live in the terminal.")
    parser.add_argument("--locale", metavar="ID", help="locale to recognise, en_US or en-US")
    parser.add_argument("--pause", metavar="SECONDS", type=float, help="silence that closes a segment")
    parser.add_argument("--no-punctuation", action="store_true", help="plain words, no sentence formatting")
    parser.add_argument("--binary", metavar="PATH", help="the scrivia executable")
    options = parser.parse_args(argv)
    try:
        return asyncio.run(run(options))
    except OSError as error:  # not found (ScriviaNotFound) or not runnable
        print(f"scrivia-live: {error}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())

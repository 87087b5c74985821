"""Dictation shown in place in the terminal: ``python3 -m scrivia_client.live``.

Settled text scrolls up; beneath it a level bar and the partial text are
redrawn as they change. Ctrl-C stops in order (the owed text still comes); a
second one ends scrivia at once.
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

ESC = "\x1b["


class LiveView:
    """Owns the bottom of the terminal: status lines below everything printed."""

    def __init__(self, out: TextIO | None = None) -> None:
        self.out = out or sys.stdout
        # Piped into a file or another program, the view is plain settled lines.
        self.tty = self.out.isatty()
        self.status_shown = False
        self.level = 0.0
        self.partial = ""
        self.heading = "starting…"

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
            case Final(text=text):
                self.partial = ""
                return self.draw([self.style(1, text)])
            case Error(code=code, message=message):
                return self.draw([self.style(31, f"{error_text(code)} ({code}): {message}")])
            case _:
                return
        self.draw([])

    def stopping(self) -> None:
        self.heading = "stopping… (Ctrl-C again to end at once)"
        self.draw([])

    def draw(self, settled: list[str], last: bool = False) -> None:
        """Writes settled lines above the status, then the status again."""
        if not self.tty:
            for line in settled:
                print(line, file=self.out, flush=True)
            return
        width = max(20, shutil.get_terminal_size().columns)
        out = f"\r{ESC}2A{ESC}J" if self.status_shown else f"{ESC}?25l"
        out += "".join(f"{line}\n" for line in settled)
        if last:
            out += f"{ESC}?25h"
        else:
            bar_width = min(40, width - 20)
            filled = round(min(1.0, max(0.0, self.level)) * bar_width)
            bar = f"[{'█' * filled}{' ' * (bar_width - filled)}] {self.level:.2f}"
            # One line each, so the cursor arithmetic above holds: keep the end of a long partial.
            partial = self.partial if len(self.partial) <= width - 3 else "…" + self.partial[-(width - 4) :]
            out += f"{self.style(2, self.heading[: width - 1])}\n{bar}\n{self.style(2, partial)}"
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

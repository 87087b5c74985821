"""One run of the scrivia executable: its event stream, its control channel and its end."""

from __future__ import annotations

import asyncio
import atexit
import inspect
import os
import signal
from typing import Any, AsyncIterator, Callable, Iterable, Literal, Mapping, Sequence, cast, overload

from .binary import find_scrivia
from .events import End, Error, Event, Final, Level, Locales, Partial, Ready, parse_event
from .words import WordsFile, word_entries

# Children still running, killed if the interpreter exits before they end.
_running: set[int] = set()


@atexit.register
def _kill_running() -> None:
    for pid in list(_running):
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


_CLOSED = object()  # put in the queue after the last event
_LINE_LIMIT = 1 << 20  # longer lines are skipped rather than ending the stream


class Session:
    """A running scrivia; made by :func:`start_scrivia` or :func:`run_scrivia`.

    Lives on the event loop that made it. Its events come through callbacks
    (:meth:`on`) and through ``async for``; the iterator is meant for one
    consumer and gets every event from the start, ending after the last one.
    Lines that are no known event are skipped (the ``"line"`` callback sees
    every line as written).

    scrivia runs in its own process group, so a Ctrl-C in the terminal
    reaches the host alone, which then stops scrivia in order. scrivia is
    killed if the event loop finishes or the interpreter exits first; if the
    host dies otherwise, its closed pipes end scrivia.
    """

    def __init__(self, process: asyncio.subprocess.Process, words: WordsFile | None = None) -> None:
        self._process = process
        self._words = words  # removed once scrivia has exited
        self._callbacks: dict[str, list[Callable[[Any], object]]] = {}
        self._queue: asyncio.Queue[object] = asyncio.Queue()
        self._pending: set[asyncio.Future[Any]] = set()
        self._exited: asyncio.Future[int] = asyncio.get_running_loop().create_future()
        _running.add(process.pid)
        self._reader = asyncio.create_task(self._read())

    @property
    def pid(self) -> int:
        return self._process.pid

    @property
    def returncode(self) -> int | None:
        """The exit status once scrivia has ended (negative: the signal that ended it)."""
        return self._exited.result() if self._exited.done() and not self._exited.cancelled() else None

    @overload
    def on(self, kind: Literal["ready"], callback: Callable[[Ready], object]) -> None: ...
    @overload
    def on(self, kind: Literal["level"], callback: Callable[[Level], object]) -> None: ...
    @overload
    def on(self, kind: Literal["partial"], callback: Callable[[Partial], object]) -> None: ...
    @overload
    def on(self, kind: Literal["final"], callback: Callable[[Final], object]) -> None: ...
    @overload
    def on(self, kind: Literal["error"], callback: Callable[[Error], object]) -> None: ...
    @overload
    def on(self, kind: Literal["end"], callback: Callable[[End], object]) -> None: ...
    @overload
    def on(self, kind: Literal["locales"], callback: Callable[[Locales], object]) -> None: ...
    @overload
    def on(self, kind: Literal["event"], callback: Callable[[Event], object]) -> None: ...
    @overload
    def on(self, kind: Literal["line"], callback: Callable[[str], object]) -> None: ...

    def on(self, kind: str, callback: Callable[[Any], object]) -> None:
        """Calls ``callback`` with each event of a kind (``"final"``...), with
        every event (``"event"``) or with every raw line (``"line"``).

        A coroutine function's coroutine is run as a task. A callback that
        raises is reported to the event loop's exception handler and the
        stream goes on.
        """
        self._callbacks.setdefault(kind, []).append(callback)

    def off(self, kind: str, callback: Callable[[Any], object]) -> None:
        if callback in self._callbacks.get(kind, []):
            self._callbacks[kind].remove(callback)

    async def stop(self, timeout: float = 5.0) -> int:
        """Asks for an orderly stop (the owed text comes as finals, then
        ``End``); kills scrivia if it has not exited within ``timeout``
        seconds. Returns the exit status."""
        stdin = self._process.stdin
        if self.returncode is None and stdin is not None and not stdin.is_closing():
            try:
                stdin.write(b"stop\n")
                stdin.close()
            except (BrokenPipeError, ConnectionResetError):
                pass  # already going; the exit status says the rest
        try:
            return await asyncio.wait_for(asyncio.shield(self._exited), timeout)
        except TimeoutError:
            self.kill()
            return await asyncio.shield(self._exited)

    def kill(self) -> None:
        """Ends scrivia at once; owed text is lost."""
        if self._process.returncode is None:
            try:
                self._process.kill()
            except ProcessLookupError:
                pass

    async def wait(self) -> int:
        """The exit status, once the last event has been delivered."""
        return await asyncio.shield(self._exited)

    async def __aiter__(self) -> AsyncIterator[Event]:
        while True:
            event = await self._queue.get()
            if event is _CLOSED:
                self._queue.put_nowait(_CLOSED)  # a later loop ends at once too
                return
            yield cast(Event, event)

    async def __aenter__(self) -> Session:
        return self

    async def __aexit__(self, *exc: object) -> None:
        await self.stop()

    def _call(self, kind: str, value: object) -> None:
        for callback in list(self._callbacks.get(kind, [])):
            try:
                result = callback(value)
                if inspect.isawaitable(result):
                    task = asyncio.ensure_future(result)
                    self._pending.add(task)
                    task.add_done_callback(self._pending.discard)
            except Exception as error:  # the host's fault must not end the stream
                asyncio.get_running_loop().call_exception_handler(
                    {"message": f"scrivia {kind!r} callback failed", "exception": error}
                )

    async def _read(self) -> None:
        stdout = self._process.stdout
        assert stdout is not None
        try:
            while True:
                try:
                    raw = await stdout.readline()
                except ValueError:
                    continue
                if not raw:
                    break
                line = raw.decode("utf-8", "replace").rstrip("\r\n")
                if not line.strip():
                    continue
                self._call("line", line)
                event = parse_event(line)
                if event is None:
                    continue
                self._call("event", event)
                self._call(event.kind, event)
                self._queue.put_nowait(event)
            status = await self._process.wait()
            self._exited.set_result(status)
        finally:
            # Cancelled: the event loop is finishing before scrivia did.
            if self._process.returncode is None:
                self.kill()
            _running.discard(self._process.pid)
            if self._words is not None:
                self._words.remove()
            if not self._exited.done():
                self._exited.cancel()
            self._queue.put_nowait(_CLOSED)


def scrivia_arguments(
    locale: str | None = None, pause_seconds: float | None = None, punctuation: bool = True
) -> list[str]:
    args: list[str] = []
    if locale is not None:
        args += ["--locale", locale]
    if pause_seconds is not None:
        args += ["--pause", str(pause_seconds)]
    if not punctuation:
        args.append("--no-punctuation")
    return args


async def run_scrivia(
    args: Sequence[str],
    binary: str | os.PathLike[str] | None = None,
    env: Mapping[str, str] | None = None,
    words: Iterable[str] | None = None,
) -> Session:
    """Runs scrivia (see :func:`find_scrivia`) with ``args``; ``env`` is
    added to this process's environment. ``words`` go to a private temporary
    file, passed as ``--words`` and removed once scrivia has exited."""
    entries = word_entries(words)
    program = find_scrivia(binary)
    file = WordsFile(entries) if entries else None
    try:
        process = await asyncio.create_subprocess_exec(
            program,
            *args,
            *(["--words", file.path] if file else []),
            stdin=asyncio.subprocess.PIPE,
            stdout=asyncio.subprocess.PIPE,
            env={**os.environ, **env} if env else None,
            limit=_LINE_LIMIT,
            process_group=0,
        )
    except BaseException:
        if file:
            file.remove()
        raise
    return Session(process, file)


async def start_scrivia(
    locale: str | None = None,
    pause_seconds: float | None = None,
    punctuation: bool = True,
    binary: str | os.PathLike[str] | None = None,
    env: Mapping[str, str] | None = None,
    words: Iterable[str] | None = None,
) -> Session:
    """Starts dictation: ``locale`` (``en_US`` or ``en-US``; default the
    user's), ``pause_seconds`` of silence that close a segment (scrivia clamps
    it to 0.4-5.0), ``punctuation`` for sentence formatting of finals,
    ``env`` added to the environment (``PULSE_SOURCE`` chooses the
    microphone), and ``words``, the person's own words and names, each a line
    of scrivia's words file (``"PostgreSQL = post gres q l"``); an entry with
    a line break raises ValueError. Events come until ``End`` and the exit."""
    return await run_scrivia(scrivia_arguments(locale, pause_seconds, punctuation), binary, env, words)

import asyncio
import json
import re
import shutil
import tempfile

import pytest
from conftest import REPO, collect

import scrivia_client
from scrivia_client import End, Final, Level, Partial, Ready, ScriviaNotFound, Transcript, find_scrivia, parse_event

RECORDING = "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0880.wav"
SPOKEN = set("he was not an ill disposed young man".split())


def test_stop_mid_speech_still_gives_what_was_heard_then_end(sound_server):
    address, feed = sound_server
    feed(RECORDING)

    async def dictate():
        session = await scrivia_client.start_scrivia("en_US", punctuation=False, env={"PULSE_SERVER": address})
        by_callback, stops = [], []
        session.on("final", lambda event: by_callback.append(event.text))
        asyncio.get_running_loop().call_later(60, session.kill)  # no words at all: fail, never hang

        def stop_once_words_come(event):
            if not stops and isinstance(event, Partial) and " " in event.text:
                stops.append(asyncio.ensure_future(session.stop()))

        events, status = await collect(session, stop_once_words_come)
        return events, status, by_callback, [await stop for stop in stops]

    events, status, by_callback, stopped = asyncio.run(dictate())
    kinds = [type(event) for event in events if not isinstance(event, Level)]
    texts = [event.text for event in events if isinstance(event, Final)]
    assert stopped == [0] and texts and texts == by_callback, kinds
    assert all(re.fullmatch("[a-z ]+", text) for text in texts), "no punctuation was asked for"
    assert len(SPOKEN & set(" ".join(texts).split())) >= 2, texts
    assert [kinds[0], kinds[-1], status] == [Ready, End, 0]


def test_a_run_that_cannot_listen_ends_with_its_error():
    async def run():
        session = await scrivia_client.start_scrivia("en_US", env={"PULSE_SERVER": "unix:/nonexistent/native"})
        return await collect(session)

    events, status = asyncio.run(run())
    assert [(type(e).__name__, getattr(e, "code", None)) for e in events] == [("Error", "no-mic"), ("End", None)]
    assert (scrivia_client.error_text(events[0].code), status) == ("No usable microphone", 1)


def test_catalogue_and_the_locale_picked_from_it():
    catalogue = asyncio.run(scrivia_client.list_locales())
    assert "en-US" in catalogue.locales and set(catalogue.on_device) <= set(catalogue.locales)
    for wanted, want in [("en_US", "en-US"), ("en-us", "en-US"), ("en_AU", "en-GB"), ("en", "en-GB"), ("fr", None)]:
        assert scrivia_client.pick_locale(wanted, ["de-DE", "en-GB", "en-US"]) == want, wanted


def test_stop_kills_a_child_that_does_not_stop_within_the_bound():
    async def run():
        # sleep ignores the control channel, as a stuck scrivia would.
        session = await scrivia_client.run_scrivia(["30"], binary="sleep")
        return await session.stop(timeout=0.3)

    assert asyncio.run(run()) == -9


@pytest.mark.parametrize(
    "line, want",
    [
        ('{"type":"final","text":"a b","later":1}', Final("a b")),
        ('{"type":"final","text":"a","lineBreaksBefore":"2"}', None),
        ('{"type":"ready","locale":"en-US","onDevice":true}', Ready("en-US", True)),
        ('{"type":"level","value":true}', None),
        ('{"type":"final"}', None),
        ('{"type":"someday"}', None),
        ("[1]", None),
        ("not json \xff", None),
    ],
)
def test_lines_that_are_no_known_event_are_skipped(line, want):
    assert parse_event(line) == want


def test_binary_lookup_order_and_the_places_named_when_none_is_found(tmp_path, monkeypatch):
    on_path, dev, sleep = tmp_path / "bin" / "scrivia", tmp_path / "build" / "scrivia", shutil.which("sleep")
    for exe in (on_path, dev):
        exe.parent.mkdir()
        exe.write_text("#!/bin/sh\n")
        exe.chmod(0o755)
    monkeypatch.setattr(scrivia_client.binary, "DEV_BUILD", dev)
    bin_dir, none = str(on_path.parent), str(tmp_path / "none")
    for binary, variable, path, dev_built, want in [
        (sleep, str(on_path), bin_dir, True, sleep),
        (None, sleep, bin_dir, True, sleep),
        (None, None, bin_dir, True, str(on_path)),
        (None, None, none, True, str(dev)),
        ("nope", sleep, bin_dir, True, "scrivia not found: 'nope' (the binary argument) is no executable"),
        (None, None, none, False, "scrivia not found; tried the binary argument (not given), $SCRIVIA_BINARY "
         f"(not given), scrivia on PATH ({none}), {dev} (this repository's build)"),
    ]:
        monkeypatch.setenv("PATH", path)
        monkeypatch.delenv("SCRIVIA_BINARY", raising=False)
        if variable:
            monkeypatch.setenv("SCRIVIA_BINARY", variable)
        dev.chmod(0o755 if dev_built else 0o644)
        try:
            got = find_scrivia(binary)
        except ScriviaNotFound as error:
            got = str(error)
        assert got == want, (binary, variable, path, dev_built)


CASES = json.loads((REPO / "clients" / "transcript-cases.json").read_text())


@pytest.mark.parametrize("case", CASES, ids=[case["why"] for case in CASES])
def test_finals_join_into_the_text_as_dictated(case):
    transcript = Transcript()
    for final in case["finals"]:
        transcript.add(parse_event(json.dumps({"type": "final", **final})))
    assert (transcript.text, transcript.fixed) == (case["expected"], case["expected"].removesuffix("."))





# Records its arguments, then the mode and content of the last one's file.
FAKE = '#!/bin/bash\n{ echo "$@"; stat -c %a "${@: -1}" && cat "${@: -1}"; } >"$0.record" 2>&1\necho \'{"type":"ready","locale":"en-US","onDevice":true}\'\nread -r\n'
WORDS = ["Kubernetes", "PostgreSQL = post gres q l"]
HEARD = r"--pause 1 --words TMP/scrivia-words-\w+/words\.txt\n600\nKubernetes\nPostgreSQL = post gres q l\n"


@pytest.mark.parametrize("words, end, want", [
    (WORDS, scrivia_client.Session.stop, HEARD), (WORDS, scrivia_client.Session.kill, HEARD),
    ([], scrivia_client.Session.stop, r"--pause 1\nstat: .*"), (WORDS, None, "FileNotFoundError"),  # the start fails
    (["GitHub", "Anouk\nDupont"], None, "ValueError"), (["Anouk\r"], None, "ValueError"), ("GitHub", None, "TypeError"),
])
def test_words_reach_scrivia_in_a_private_file_gone_once_it_exits(tmp_path, monkeypatch, words, end, want):
    monkeypatch.setattr(tempfile, "tempdir", str(tmp_path))  # where the client makes its folder
    (fake := tmp_path / "fake").write_text(FAKE if end else "#!/nonexistent/bash\n")
    fake.chmod(0o755)

    async def run():
        session = await scrivia_client.start_scrivia(pause_seconds=1, binary=fake, words=words)
        session.on("ready", lambda _: end(session))
        await asyncio.wait_for(session.wait(), 10)  # never hangs, whatever fault
        return (tmp_path / "fake.record").read_text().replace(str(tmp_path), "TMP")

    try:
        outcome = asyncio.run(run())
    except Exception as error:
        outcome = type(error).__name__
    assert re.fullmatch(want, outcome, re.S) and {p.name for p in tmp_path.iterdir()} <= {"fake", "fake.record"}, outcome

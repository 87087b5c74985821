# What the tests share: a private sound server, and a run of scrivia whose
# every line is checked against the published schema.

import json
import os
import signal
import subprocess
import sys
import tempfile
from pathlib import Path

import jsonschema
import pytest

REPO = Path(__file__).resolve().parents[3]
sys.path.insert(0, str(REPO / "clients" / "python"))
# This tree's scrivia, not one installed on the machine, unless the tester chose one.
os.environ.setdefault("SCRIVIA_BINARY", str(REPO / "build" / "scrivia"))
SCRIPT = REPO / "scripts" / "private-pulse.sh"
SCHEMA = jsonschema.Draft7Validator(json.loads((REPO / "docs" / "events.schema.json").read_text()))


async def collect(session, on_event=lambda event: None):
    """Every event until the exit, and the status; each raw line must fit the schema and parse."""
    lines, events = [], []
    session.on("line", lines.append)
    async for event in session:
        events.append(event)
        on_event(event)
    for line in lines:
        SCHEMA.validate(json.loads(line))
    assert len(events) == len(lines), "every line is an event"
    return events, await session.wait()


@pytest.fixture(scope="module")
def sound_server():
    """A private PulseAudio server (scripts/private-pulse.sh): its address, and
    feed(ITEM...) to play WAV files into its microphone once scrivia records."""
    with tempfile.TemporaryDirectory(prefix="scrivia-python-") as folder:
        run = subprocess.run(["bash", SCRIPT, "start", folder], check=True, capture_output=True, text=True)
        feeders = []

        def feed(*items):
            # Its own process group, so the kill ends the script and whatever it started.
            feeders.append(subprocess.Popen(["bash", SCRIPT, "feed", folder, *items], start_new_session=True))

        try:
            yield run.stdout.strip(), feed
        finally:
            for feeder in feeders:
                if feeder.poll() is None:
                    os.killpg(feeder.pid, signal.SIGKILL)
                feeder.wait()
            subprocess.run(["bash", SCRIPT, "stop", folder], check=False)

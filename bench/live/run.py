"""scrivia as a person meets it, beside PocketSphinx's own tool.

Builds a Release scrivia per variant, plays Debian's five Librivox clips and a
few flite readings into the microphone of a private PulseAudio server in real
time, 3 s apart, runs the real program on it with punctuation off and reads
its events as they come. The tool decodes the same audio file by file and as
one session file. Everything is scored as bench/eval/run.py scores it (its
functions are used here). Run through run.sh.
"""

import argparse
import datetime
import importlib.util
import json
import math
import os
import random
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
# The evaluation's pieces: its recordings, readings, tool, formatting and scoring.
_spec = importlib.util.spec_from_file_location("eval_run", f"{ROOT}/bench/eval/run.py")
ev = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(ev)
PULSE = f"{ROOT}/scripts/private-pulse.sh"
RATE, CHUNK = 16000, 1600  # the feeder writes 100 ms chunks
LEAD, GAP = 1, 3           # seconds of room noise before the first clip and after each
VOICE = "kal16"
# (build flags, scrivia's options) of each variant; the same flags share a build.
VARIANTS = {
    "default": ([], []),
    "no-gate": (["-DSCRIVIA_SILENCE_GATE=OFF"], []),
    "no-phrases": (["-DSCRIVIA_SPOKEN_PHRASES=OFF"], []),
    "pause-2": ([], ["--pause", "2"]),
}


def build(out, name, flags, targets):
    """The build folder of a Release scrivia with `flags`, brought up to date."""
    folder = f"{out}/{name}"
    steps = [["cmake", "--build", folder, "-j", "2", "--target", *targets]]
    if not os.path.exists(f"{folder}/build.ninja"):
        steps.insert(0, ["cmake", "-S", ROOT, "-B", folder, "-G", "Ninja",
                         "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF", *flags])
    for step in steps:
        done = subprocess.run(step, capture_output=True, text=True)
        if done.returncode:
            sys.exit(done.stdout + done.stderr)
    return folder


def onset(samples):
    """Index of the first 10 ms within 20 dB of the loudest 10 ms: where speech starts."""
    levels = [math.sqrt(sum(s * s for s in samples[at:at + 160]) / 160)
              for at in range(0, len(samples) - 159, 160)]
    return 160 * next(i for i, level in enumerate(levels) if level >= max(levels) / 10)


def session(out, dictation, prose):
    """The clips in the order played, each {id, path, ref, start, onset} in
    samples of the session file, and the session file: room noise, then each
    clip followed by GAP seconds of room noise."""
    lines = list(enumerate(ev.sentences(), 1))
    said = [(n, k, t) for n, (k, t) in lines if k == "c"]
    plain = [(n, k, t) for n, (k, t) in lines if k == "p"]
    readings = [ev.reading(out, VOICE, n, k, t) for n, k, t in
                said[::max(1, len(said) // dictation)][:dictation] +
                plain[::max(1, len(plain) // prose)][:prose]]
    rng, clips = random.Random(13), []
    samples = ev.room_noise(LEAD * RATE, rng)
    for uid, path, ref in ev.librivox() + readings:
        rate, audio = ev.read_samples(path)
        if rate != RATE:
            sys.exit(f"{path}: {rate} Hz, the microphone takes {RATE}")
        clips.append(dict(id=uid, path=path, ref=ref, start=len(samples),
                          onset=len(samples) + onset(audio), end=len(samples) + len(audio)))
        samples += audio + ev.room_noise(GAP * RATE, rng)
    path = f"{out}/session-{dictation}-{prose}.wav"
    if not os.path.exists(path):
        ev.write_samples(path, RATE, samples)
    return clips, path, len(samples)


def live(binary, options, wav, length):
    """One session of the real program: [(arrival ns, event)], the feeder's
    {chunk: ns after its write}, the ns stop was sent, CPU seconds (model load
    in) and peak RSS MiB."""
    work = tempfile.mkdtemp(prefix="scrivia-live.")
    server = subprocess.run(["bash", PULSE, "start", work], check=True, capture_output=True,
                            text=True).stdout.strip()
    child = feeder = None
    try:
        child = subprocess.Popen(["/usr/bin/time", "-f", "%U %S %M", "-o", f"{work}/time",
                                  binary, "--locale", "en_US", "--no-punctuation", *options],
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 stderr=open(f"{work}/stderr", "w"),
                                 env=dict(os.environ, PULSE_SERVER=server))
        events = []

        def read():
            for line in iter(child.stdout.readline, b""):
                events.append((time.time_ns(), json.loads(line)))

        reader = threading.Thread(target=read)
        reader.start()
        wait_for(lambda: any(e["type"] in ("ready", "end") for _, e in events), 30)
        if not any(e["type"] == "ready" for _, e in events):
            raise RuntimeError(f"scrivia was not ready: {events}")
        feeder = subprocess.Popen(["bash", PULSE, "feed", work, "--log", f"{work}/chunks", wav],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        chunks = math.ceil(length / CHUNK)
        wait_for(lambda: count_lines(f"{work}/chunks") >= chunks or child.poll() is not None,
                 length / RATE + 60)
        stopped = time.time_ns()
        child.stdin.write(b"stop\n")
        child.stdin.close()
        child.wait(timeout=15)
        reader.join()
        written = {int(i): int(ns) for i, ns in (l.split() for l in open(f"{work}/chunks"))}
        user, system, rss = open(f"{work}/time").read().split()[-3:]
        return events, written, stopped, float(user) + float(system), float(rss) / 1024
    finally:
        if child and child.poll() is None:  # the end of its input stops it too
            child.stdin.close()
            try:
                child.wait(timeout=5)
            except subprocess.TimeoutExpired:
                child.kill()
        if feeder:
            feeder.terminate()
            feeder.wait()
        subprocess.run(["bash", PULSE, "stop", work])
        subprocess.run(["rm", "-rf", work])


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.05)


def count_lines(path):
    return sum(1 for _ in open(path)) if os.path.exists(path) else 0


def marks_figures(files, hyps, marks):
    """(share of spoken marks recalled, marks heard that nobody said), over the
    whole session: a lagging decoder puts several clips in one segment."""
    uid = f"{VOICE}-c-session"  # read as dictation, where marks are said
    recall, false = ev.commands([(uid, "", joined_refs(files))],
                                {uid: " ".join(hyps[u] for u, _, _ in files)}, marks)
    said = sum(s for _, s in recall.values())
    return sum(h for h, _ in recall.values()) / max(1, said), sum(false.values())


def figures(out, name, clips, files, length, marks, result):
    """One live run's figures; each segment is given to the clip it started in."""
    events, written, stopped, cpu, rss = result
    starts = [written[c["start"] // CHUNK] for c in clips]
    clip_at = lambda ns: max([i for i, s in enumerate(starts) if s <= ns], default=0)
    hyps, firsts, finals, first, last = {c["id"]: [] for c in clips}, {}, [], None, None
    for ns, event in events:
        if event["type"] == "partial" and event["text"]:
            first, last = first or ns, ns
            k = clip_at(ns)
            firsts.setdefault(k, (ns - written[clips[k]["onset"] // CHUNK]) / 1e9)
        elif event["type"] == "final":
            hyps[clips[clip_at(first or ns)]["id"]].append(event["text"].lower())
            if last and ns < stopped:
                finals.append((ns - last) / 1e9)
            first = last = None
    hyps = {uid: " ".join(words) for uid, words in hyps.items()}
    recall, false = marks_figures(files, hyps, marks)
    return dict(wer=session_wer(out, name, files, hyps),
                wer5=session_wer(out, name, human(files), hyps),
                recall=recall, false=false, cpu=cpu / (length / RATE), rss=rss,
                first50=ev.percentile(firsts.values(), 50),
                first90=ev.percentile(firsts.values(), 90),
                final50=ev.percentile(finals, 50), final90=ev.percentile(finals, 90),
                errors=sum(e["type"] == "error" for _, e in events))


def joined_refs(files):
    return " ".join(ref for _, _, ref in files)


def session_wer(out, system, files, hyps):
    """WER of the files' hypotheses joined against their references joined."""
    return ev.sclite_wer(out, "live", system, [("session", "", joined_refs(files))],
                         {"session": " ".join(hyps[uid] for uid, _, _ in files)})


def human(files):
    """The Librivox clips of the session."""
    return [f for f in files if not f[0].startswith(VOICE + "-")]


def tool_figures(out, driver, clips, wav, length, marks):
    """The clips' (id, path, reference) as scored, and the tool's figures file
    by file and on the session file, its words given to the clip they fall in."""
    tools = ev.Tool(out, False)
    files = [(c["id"], c["path"], c["ref"]) for c in clips]
    each = tools.each(files)
    run = tools.run(wav)
    bounds = [c["start"] / RATE for c in clips] + [length / RATE]
    spans = [(c["id"], bounds[i], bounds[i + 1]) for i, c in enumerate(clips)]
    joined = ev.words_by_span(run["stdout"], spans)
    written = ev.written_forms(driver, {ref for _, _, ref in files} | set(joined.values()) |
                               {w for w, _ in each.values()})
    files = [(uid, path, written[ref]) for uid, path, ref in files]
    each = {uid: (written[w], cpu) for uid, (w, cpu) in each.items()}
    joined = {uid: written[w] for uid, w in joined.items()}
    if not os.path.exists(f"{out}/tiny.wav"):
        ev.write_samples(f"{out}/tiny.wav", RATE, [0] * 1600)
    load = tools.run(f"{out}/tiny.wav")["cpu"]
    audio = sum((c["end"] - c["start"]) / RATE for c in clips)
    by_file = marks_figures(files, {u: w for u, (w, _) in each.items()}, marks)
    by_session = marks_figures(files, joined, marks)
    return files, {
        "tool session": dict(
            wer=session_wer(out, "tool-session", files, joined),
            wer5=session_wer(out, "tool-session", human(files), joined),
            recall=by_session[0], false=by_session[1], cpu=run["cpu"] / (length / RATE),
            rss=tools.peak_rss(wav)),
        "tool files": dict(
            wer=ev.sclite_wer(out, "live", "tool-files", files, {u: w for u, (w, _) in
                                                                 each.items()}),
            wer5=ev.sclite_wer(out, "live", "tool-files", human(files),
                               {u: w for u, (w, _) in each.items()}),
            recall=by_file[0], false=by_file[1],
            cpu=sum(max(0, cpu - load) for _, cpu in each.values()) / audio),
    }


ROWS = [("wer", "WER over the session (sclite)", "{:.3f}"),
        ("wer5", "  of the five Librivox clips", "{:.3f}"),
        ("recall", "spoken marks recalled", "{:.2f}"),
        ("false", "marks heard, not said", "{:.0f}"),
        ("cpu", "CPU s per audio s (see below)", "{:.3f}"),
        ("rss", "peak RSS MiB", "{:.0f}"),
        ("first50", "first partial after onset p50 s", "{:.2f}"),
        ("first90", "first partial after onset p90 s", "{:.2f}"),
        ("final50", "last partial -> final p50 s", "{:.2f}"),
        ("final90", "last partial -> final p90 s", "{:.2f}")]
RATIOS = [("wer", "tool session", "WER / tool's session decode"),
          ("wer", "tool files", "WER / tool's per-file decodes"),
          ("wer5", "tool session", "  Librivox clips / tool's session"),
          ("wer5", "tool files", "  Librivox clips / tool's per-file"),
          ("cpu", "tool session", "CPU / tool's session decode"),
          ("rss", "tool session", "peak RSS / tool's")]


def table(saved):
    runs, tool = saved["runs"], saved["tool"]
    names = list(dict.fromkeys(r["variant"] for r in runs))
    median = {v: {k: statistics.median(r[k] for r in runs if r["variant"] == v)
                  for k, _, _ in ROWS} for v in names}
    counts = {v: sum(r["variant"] == v for r in runs) for v in names}
    errors = sum(r["errors"] for r in runs)
    print(f"Live, {saved['date']}, {saved['cores']} cores; {saved['audio']:.0f} s of audio a run; "
          "median of " + ", ".join(f"{counts[v]} {v}" for v in names) + " runs"
          + (f"; {errors} error events" if errors else ""))
    columns = names + list(tool)
    print(f"{'':34}" + "".join(f"{c:>13}" for c in columns))
    for key, label, fmt in ROWS:
        cells = [median[v][key] for v in names] + [tool[t].get(key) for t in tool]
        print(f"{label:34}" + "".join(f"{'' if c is None else fmt.format(c):>13}" for c in cells))
    for key, against, label in RATIOS:
        print(f"{label:34}" + "".join(f"{median[v][key] / tool[against][key]:>13.2f}"
                                      for v in names))
    print("CPU: live, the whole process with its model load over the audio played; tool session, "
          f"one run with its load (median of {len(saved.get('tool_cpu', []))}, one a round); "
          "tool files, each file's run without its load (cached).")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5, help="runs of each variant")
    parser.add_argument("--variants", default=",".join(VARIANTS),
                        help="comma-separated, of " + ", ".join(VARIANTS))
    parser.add_argument("--dictation", type=int, default=8,
                        help="flite readings that say marks, after the clips")
    parser.add_argument("--prose", type=int, default=4, help="flite readings of prose")
    parser.add_argument("--out", default=f"{ROOT}/build-live")
    parser.add_argument("--table", help="print the figures a run saved in this file, and stop")
    args = parser.parse_args()
    if args.table:
        return table(json.load(open(args.table)))
    names = args.variants.split(",")
    if any(v not in VARIANTS for v in names):
        sys.exit(f"variants are {', '.join(VARIANTS)}")
    os.makedirs(args.out, exist_ok=True)
    driver = build(args.out, "default", [], ["scrivia", "scrivia_decode_files"]) + \
        "/bench/scrivia_decode_files"
    binaries = {v: build(args.out, v if VARIANTS[v][0] else "default", VARIANTS[v][0],
                         ["scrivia"]) + "/scrivia" for v in names}
    clips, wav, length = session(args.out, args.dictation, args.prose)
    marks = ev.spoken_marks(driver)
    files, tool = tool_figures(args.out, driver, clips, wav, length, marks)
    saved = dict(date=datetime.date.today().isoformat(), cores=os.cpu_count(),
                 audio=length / RATE, runs=[], tool=tool)
    path = f"{args.out}/live-{datetime.datetime.now():%Y%m%d-%H%M}.json"
    for n in range(args.runs):
        # The tool's words are cached, its CPU is not: it moves with the machine's load.
        decode = ev.run_tool(wav)
        saved.setdefault("tool_cpu", []).append(decode["cpu"] / (length / RATE))
        saved["tool"]["tool session"]["cpu"] = statistics.median(saved["tool_cpu"])
        for v in names:  # one of each in turn, so a busy spell falls on all alike
            result = live(binaries[v], VARIANTS[v][1], wav, length)
            json.dump(result[:3], open(f"{args.out}/events-{v}-{n + 1}.json", "w"))
            saved["runs"].append(dict(variant=v, **figures(args.out, f"{v}-{n}", clips, files,
                                                           length, marks, result)))
            json.dump(saved, open(path, "w"), indent=1)
            print(f"{v} run {n + 1}: " + ", ".join(f"{k} {x:.3f}" for k, x in
                                                  saved["runs"][-1].items() if k != "variant"),
                  file=sys.stderr, flush=True)
    print(f"saved in {path}", file=sys.stderr)
    table(saved)


if __name__ == "__main__":
    sys.exit(main())

"""How well scrivia recognises speech, beside PocketSphinx's own tool.

Prepares the evaluation sets in BUILD/eval (Debian's recordings with a
transcript, flite voices reading bench/eval/sentences.txt, a session of
recordings with pauses, and a long near-silence), decodes them with
scrivia_decode_files and with pocketsphinx_continuous (same model), scores
both with sclite and prints the figures side by side. Run through run.sh.
"""

import argparse
import json
import math
import os
import random
import re
import resource
import struct
import subprocess
import sys
import time
import wave

DATA = "/usr/share/pocketsphinx/test/data"
MODEL = "/usr/share/pocketsphinx/model/en-us"
SCLITE = "/usr/lib/sctk/bin/sclite"
VOICES = ["kal16", "awb", "slt"]
HERE = os.path.dirname(os.path.abspath(__file__))


def transcript(line):
    """(id, words) of a "<s> words </s> (id)" line."""
    match = re.match(r"^(.*)\((\S+)\)\s*$", line)
    words = [w for w in match.group(1).lower().split() if w not in ("<s>", "</s>")]
    return match.group(2), " ".join(words)


def read_samples(path):
    with wave.open(path) as w:
        return w.getframerate(), list(struct.unpack(f"<{w.getnframes()}h",
                                                    w.readframes(w.getnframes())))


def write_samples(path, rate, samples):
    with wave.open(path, "wb") as w:
        w.setnchannels(1), w.setsampwidth(2), w.setframerate(rate)
        w.writeframes(struct.pack(f"<{len(samples)}h", *samples))


def room_noise(count, rng):
    """A quiet room through a microphone: about -60 dBFS of noise."""
    return [int(rng.gauss(0, 30)) for _ in range(count)]


def librivox():
    """Debian's five Librivox clips: [(id, path, reference words)]."""
    lib = f"{DATA}/librivox"
    return [(uid, f"{lib}/{uid}.wav", words)
            for uid, words in map(transcript, open(f"{lib}/transcription"))]


def sentences():
    """[(kind, text)] of sentences.txt: "c" says marks, "p" is prose."""
    return [(kind, text.strip()) for kind, text in
            (l.split(None, 1) for l in open(f"{HERE}/sentences.txt") if not l.startswith("#"))]


def reading(out, voice, n, kind, text):
    """(id, path, words) of sentence n read by a flite voice, made once."""
    os.makedirs(f"{out}/synthetic", exist_ok=True)
    uid, path = f"{voice}-{kind}{n:02d}", f"{out}/synthetic/{voice}-{n:02d}.wav"
    if not os.path.exists(path):
        subprocess.run(["flite", "-voice", voice, "-t", text, "-o", path], check=True)
    return uid, path, text


def prepare(out):
    """Writes each set's files; returns {set: [(id, path, reference words)]}."""
    sets = {"human": librivox(), "synthetic": [], "session": [], "silence": []}
    for line in open(f"{DATA}/cards/cards.transcription"):
        uid, words = transcript(line)
        sets["human"].append((f"cards-{uid}", f"{DATA}/cards/{uid}.wav", words))
    for voice in VOICES:
        for n, (kind, text) in enumerate(sentences(), 1):
            sets["synthetic"].append(reading(out, voice, n, kind, text))
    # The human recordings as one session: a second of room noise before each,
    # three after, as a person pauses between sentences.
    rng = random.Random(13)
    session, words = [], []
    for uid, path, ref in sets["human"][:5]:
        session += room_noise(16000, rng) + read_samples(path)[1] + room_noise(48000, rng)
        words.append(ref)
    write_samples(f"{out}/session.wav", 16000, session)
    sets["session"].append(("session", f"{out}/session.wav", " ".join(words)))
    write_samples(f"{out}/silence.wav", 16000, room_noise(16000 * 60, rng))
    sets["silence"].append(("silence", f"{out}/silence.wav", ""))
    return sets


def cpu_of_children():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def run_scrivia(driver, out, name, files, paced, attempt=None):
    listing, hyp = f"{out}/{name}.list", f"{out}/{name}.{attempt or 'scrivia'}.trn"
    with open(listing, "w") as f:
        f.writelines(f"{uid} {path}\n" for uid, path, _ in files)
    args = [driver] + (["--paced"] if paced else []) + \
        (["--check", attempt] if attempt else []) + [listing, hyp]
    lines = subprocess.run(args, check=True, capture_output=True, text=True).stdout.splitlines()
    figures = {l.split()[0]: [float(x) for x in l.split()[1:]] for l in lines}
    words = dict(transcript(l) for l in open(hyp))
    return {uid: dict(words=words.get(uid, ""), audio=figures[uid][0], cpu=figures[uid][1],
                      final=figures[uid][2], first=figures[uid][3]) for uid, _, _ in files}, \
        figures["load_cpu_seconds"][0], figures["peak_rss_mib"][0]


def run_tool(path):
    """pocketsphinx_continuous on one file: what it printed, CPU seconds, peak RSS."""
    before = cpu_of_children()
    done = subprocess.run(["pocketsphinx_continuous", "-infile", path, "-time", "yes",
                           "-hmm", f"{MODEL}/en-us", "-lm", f"{MODEL}/en-us.lm.bin", "-dict",
                           f"{MODEL}/cmudict-en-us.dict", "-logfn", "/dev/null"],
                          check=True, capture_output=True, text=True)
    cpu = cpu_of_children() - before
    return {"stdout": done.stdout, "cpu": cpu}


def timed_words(stdout):
    """(word, middle second) of each word the tool placed in time."""
    words = []
    for line in stdout.splitlines():
        fields = line.split()
        numbers = len(fields) == 4 and all(re.match(r"^-?[\d.]+$", f) for f in fields[1:])
        if numbers and not re.match(r"^(<.*>|\[.*\]|\+\+.*)$", fields[0]):
            words.append((re.sub(r"\(\d+\)$", "", fields[0]).lower(),
                          (float(fields[1]) + float(fields[2])) / 2))
    return words


class Tool:
    """The tool's results, kept in a cache keyed by file: its words and costs
    do not change from run to run, and each of its runs loads the model anew
    (a few CPU seconds)."""

    def __init__(self, out, fresh):
        self.path = f"{out}/tool-cache.json"
        self.cache = {} if fresh or not os.path.exists(self.path) else json.load(open(self.path))

    def run(self, path):
        key = f"{path}:{os.path.getmtime(path)}:{os.path.getsize(path)}"
        if key not in self.cache:
            self.cache[key] = run_tool(path)
            json.dump(self.cache, open(self.path, "w"))
        return self.cache[key]

    def each(self, files):
        """One run per file: {id: (words, cpu seconds)}."""
        results = {}
        for uid, path, _ in files:
            r = self.run(path)
            results[uid] = (" ".join(w for w, _ in timed_words(r["stdout"])), r["cpu"])
        return results

    def joined(self, out, name, files):
        """One run over the files joined by pauses, each word given to the file
        it was said in: many short files would otherwise cost a model load
        each. The run's CPU is shared out by audio length."""
        rng, samples, spans = random.Random(7), [], []
        for uid, path, _ in files:
            audio = read_samples(path)[1]
            spans.append((uid, len(samples) / 16000, (len(samples) + len(audio)) / 16000))
            samples += audio + room_noise(24000, rng)
        path = f"{out}/{name}.joined.wav"
        if not os.path.exists(path):
            write_samples(path, 16000, samples)
        r = self.run(path)
        words = words_by_span(r["stdout"], spans)
        total = len(samples) / 16000
        return {uid: (words[uid], r["cpu"] * (end - start) / total) for uid, start, end in spans}

    def peak_rss(self, path):
        """The tool's peak resident MiB on one file, measured apart: the
        children's peak that Python sees includes the other children's."""
        key = f"rss:{path}"
        if key not in self.cache:
            rss = path + ".rss"
            subprocess.run(["/usr/bin/time", "-f", "%M", "-o", rss, "pocketsphinx_continuous",
                            "-infile", path, "-hmm", f"{MODEL}/en-us", "-lm",
                            f"{MODEL}/en-us.lm.bin", "-dict", f"{MODEL}/cmudict-en-us.dict",
                            "-logfn", "/dev/null"], check=True, capture_output=True)
            self.cache[key] = float(open(rss).read().split()[-1]) / 1024
            json.dump(self.cache, open(self.path, "w"))
        return self.cache[key]


def words_by_span(stdout, spans):
    """{id: words} of the tool's timed words, each given to the (id, start,
    end) span it was said in, or the nearest."""
    words = {uid: [] for uid, _, _ in spans}
    for word, at in timed_words(stdout):
        uid = min(spans, key=lambda s: 0 if s[1] <= at <= s[2] else min(abs(at - s[1]),
                                                                         abs(at - s[2])))[0]
        words[uid].append(word)
    return {uid: " ".join(w) for uid, w in words.items()}


def sclite_wer(out, name, system, files, hyps):
    ref, hyp = f"{out}/{name}.ref.trn", f"{out}/{name}.{system}.scored.trn"
    with open(ref, "w") as f:
        f.writelines(f"{words} ({uid})\n" for uid, _, words in files)
    with open(hyp, "w") as f:
        f.writelines(f"{hyps[uid]} ({uid})\n" for uid, _, _ in files)
    report = subprocess.run([SCLITE, "-r", ref, "trn", "-h", hyp, "trn", "-i", "rm", "-o", "sum",
                             "stdout"], check=True, capture_output=True, text=True).stdout
    for line in report.splitlines():
        if "Sum/Avg" in line:
            return float(line.split("|")[3].split()[-2]) / 100
    raise RuntimeError("sclite printed no total:\n" + report)


def wer(ref, hyp):
    """Word error rate of one utterance (edit distance over reference words)."""
    r, h = ref.split(), hyp.split()
    row = list(range(len(h) + 1))
    for i, word in enumerate(r, 1):
        previous, row[0] = row[0], i
        for j in range(1, len(h) + 1):
            previous, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1,
                                           previous + (word != h[j - 1]))
    return row[len(h)] / max(1, len(r))


def spoken_marks(driver):
    """{phrase: (key, boosted)} of the English tables, as the driver prints them;
    phrases of one mark share a key."""
    lines = subprocess.run([driver, "--marks"], check=True, capture_output=True,
                           text=True).stdout.splitlines()
    return {words: (key, boosted == "1") for words, key, boosted in
            (line.split("\t") for line in lines)}


def marks_in(words, marks):
    """The mark phrases of `words`, the longest where two start alike, as the
    formatter reads them."""
    w, found, at = words.split(), [], 0
    while at < len(w):
        match = max((p for p in marks if w[at:at + len(p.split())] == p.split()),
                    key=lambda p: len(p.split()), default=None)
        found.append(match) if match else None
        at += len(match.split()) if match else 1
    return found


def commands(files, hyps, marks):
    """Per phrase: (heard, said) over dictation, heard meaning any phrase of the
    same mark; and marks heard that nobody said, in prose ("p"), dictation ("c")
    and recordings ("h")."""
    recall, false = {c: [0, 0] for c in marks}, {"p": 0, "c": 0, "h": 0}
    for uid, _, ref in files:
        kind = uid.split("-")[1][0] if uid.split("-")[0] in VOICES else "h"
        said, heard = marks_in(ref, marks), marks_in(hyps[uid], marks)
        keys = [marks[p][0] for p in heard]
        for key in {marks[p][0] for p in said + heard}:
            false[kind] += max(0, keys.count(key) - sum(marks[p][0] == key for p in said))
        if kind != "c":
            continue
        for phrase in set(said):
            n = said.count(phrase)
            recall[phrase][1] += n
            # Shared out among the phrases of its mark said here.
            mine = sum(marks[p][0] == marks[phrase][0] for p in said)
            recall[phrase][0] += min(n, keys.count(marks[phrase][0]) * n / mine)
    return recall, false


def written_forms(driver, texts):
    """{text: the text as scrivia writes it with punctuation off, lower-cased}."""
    texts = sorted(texts)
    done = subprocess.run([driver, "--format"], input="".join(t + "\n" for t in texts),
                          check=True, capture_output=True, text=True).stdout.split("\n")
    return {t: w.lower() for t, w in zip(texts, done)}


def same_footing(driver, sets, ours, tool):
    """scrivia writes numbers as digits and names with capitals even with
    punctuation off; the references and the tool's words go through the same
    formatter, and all three are lower-cased, so that only recognition counts."""
    written = written_forms(driver, {ref for files in sets.values() for _, _, ref in files} |
                            {w for results in tool.values() for w, _ in results.values()})
    for name, files in sets.items():
        sets[name] = [(uid, path, written[ref]) for uid, path, ref in files]
        tool[name] = {uid: (written[w], cpu) for uid, (w, cpu) in tool[name].items()}
        for result in ours[name].values():
            result["words"] = result["words"].lower()


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, math.ceil(p / 100 * len(values)) - 1)] if values else 0


def compare_attempts(driver, out, sets, marks, attempts):
    """Each way of checking heard marks on the prose, the dictation and the
    recordings: false marks, the phrases recalled least, and the CPU spent."""
    print(f"{len(sets['synthetic'])} synthetic readings")
    prose = sum(1 for u, _, _ in sets["synthetic"] if u.split("-")[1][0] == "p")
    print(f"{'attempt':12}{'false/100 prose':>16}{'false, recordings':>18}{'CPU s/s':>9}"
          "  recall under 0.95 (lowest first)")
    for attempt in attempts:
        hyps, cpu, audio = {}, 0, 0
        for name in ("synthetic", "human", "session"):
            runs = run_scrivia(driver, out, name, sets[name], False, attempt)[0]
            hyps.update({u: r["words"].lower() for u, r in runs.items()})
            cpu, audio = cpu + sum(r["cpu"] for r in runs.values()), \
                audio + sum(r["audio"] for r in runs.values())
        recall, false = commands(sets["synthetic"], hyps, marks)
        recorded = sum(commands(sets[n], hyps, marks)[1]["h"] for n in ("human", "session"))
        low = sorted((h / s, c) for c, (h, s) in recall.items() if s and h / s < 0.95)
        print(f"{attempt:12}{100 * false['p'] / prose:>16.2f}{recorded:>18}{cpu / audio:>9.3f}  "
              + ", ".join(f"{c} {r:.2f}" for r, c in low))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--fresh", action="store_true", help="run the tool again on every file")
    parser.add_argument("--attempts", help="ways of checking heard marks, comma-separated (see "
                        "decode_files.cpp): only the mark figures of each, without the tool")
    parser.add_argument("--every", type=int, default=1,
                        help="with --attempts, only every so many synthetic readings")
    args = parser.parse_args()
    out = f"{args.build}/eval"
    os.makedirs(out, exist_ok=True)
    driver = f"{args.build}/bench/scrivia_decode_files"
    sets = prepare(out)
    marks = spoken_marks(driver)
    if args.attempts:
        sets["synthetic"] = sets["synthetic"][::args.every]
        return compare_attempts(driver, out, sets, marks, args.attempts.split(","))

    ours, tool, load, peaks, tools = {}, {}, 0, {}, Tool(out, args.fresh)
    for name, files in sets.items():
        # Human speech at a microphone's pace, for the time to the first partial.
        ours[name], load, peaks[name] = run_scrivia(driver, out, name, files,
                                                     paced=name == "human")
        if name == "synthetic":
            tool[name] = {}
            for voice in VOICES:
                tool[name].update(tools.joined(out, f"synthetic-{voice}",
                                               [f for f in files if f[0].startswith(voice + "-")]))
        else:
            tool[name] = tools.each(files)
    same_footing(driver, sets, ours, tool)
    if not os.path.exists(f"{out}/tiny.wav"):
        write_samples(f"{out}/tiny.wav", 16000, [0] * 1600)
    tool_load_cpu = tools.run(f"{out}/tiny.wav")["cpu"]
    tool_rss = tools.peak_rss(f"{out}/session.wav")

    print(f"{'':34}{'scrivia':>12}{'tool':>12}{'ratio':>8}")

    def row(label, a, b, fmt="{:.3f}"):
        ratio = f"{a / b:.2f}" if b else "-"
        print(f"{label:34}{fmt.format(a):>12}{fmt.format(b) if b is not None else 'n/a':>12}"
              f"{ratio if b is not None else '':>8}")

    for name in ("human", "synthetic", "session"):
        files = sets[name]
        row(f"WER {name} (sclite)",
            sclite_wer(out, name, "scrivia", files, {u: r["words"] for u, r in ours[name].items()}),
            sclite_wer(out, name, "tool", files, {u: r[0] for u, r in tool[name].items()}))
    for voice in VOICES:
        files = [f for f in sets["synthetic"] if f[0].startswith(voice + "-")]
        a = sum(wer(ref, ours["synthetic"][u]["words"]) * len(ref.split()) for u, _, ref in files)
        b = sum(wer(ref, tool["synthetic"][u][0]) * len(ref.split()) for u, _, ref in files)
        words = sum(len(ref.split()) for _, _, ref in files)
        row(f"  WER synthetic, voice {voice}", a / words, b / words)
    for uid, _, ref in sets["human"]:
        row(f"  WER {uid[-14:]}", wer(ref, ours["human"][uid]["words"]),
            wer(ref, tool["human"][uid][0]))
    recall_a, false_a = commands(sets["synthetic"],
                                 {u: r["words"] for u, r in ours["synthetic"].items()}, marks)
    recall_b, false_b = commands(sets["synthetic"], {u: r[0] for u, r in tool["synthetic"].items()},
                                 marks)
    for c, (_, boosted) in marks.items():
        row(f"recall '{c}'{'' if boosted else ' (not boosted)'} of {recall_a[c][1]}",
            recall_a[c][0] / max(1, recall_a[c][1]), recall_b[c][0] / max(1, recall_b[c][1]),
            "{:.2f}")
    prose = sum(1 for u, _, _ in sets["synthetic"] if u.split("-")[1][0] == "p")
    row(f"false marks /100 prose, of {prose}", 100 * false_a["p"] / prose,
        100 * false_b["p"] / prose, "{:.2f}")
    row("false marks in dictation", false_a["c"], false_b["c"], "{:.0f}")
    for name in ("human", "session"):
        for uid, path, ref in sets[name]:
            a = commands([(uid, path, ref)], {uid: ours[name][uid]["words"]}, marks)[1]["h"]
            b = commands([(uid, path, ref)], {uid: tool[name][uid][0]}, marks)[1]["h"]
            row(f"  false marks, {uid[-14:]}", a, b, "{:.0f}")

    def cpu_rate(name, system):
        if system == "scrivia":
            runs = ours[name].values()
            return sum(r["cpu"] for r in runs) / sum(r["audio"] for r in runs)
        if name == "synthetic":
            return None  # the tool heard it joined, with pauses
        audio = sum(ours[name][u]["audio"] for u in ours[name])
        return sum(max(0, r[1] - tool_load_cpu) for r in tool[name].values()) / audio

    for name, label in (("human", "speech (human)"), ("synthetic", "speech (synthetic)"),
                        ("session", "speech with pauses"), ("silence", "long silence")):
        row(f"CPU s per audio s, {label}", cpu_rate(name, "scrivia"), cpu_rate(name, "tool"))
    finals = [r["final"] for s in ("human", "synthetic") for r in ours[s].values()]
    row("finalisation p50 s", percentile(finals, 50), None)
    row("finalisation p90 s", percentile(finals, 90), None)
    firsts = [r["first"] for r in ours["human"].values() if r["first"] >= 0]
    row("first partial after speech p50 s", percentile(firsts, 50), None)
    row("first partial after speech p90 s", percentile(firsts, 90), None)
    row("model load CPU s", load, tool_load_cpu)
    for name, peak in peaks.items():
        row(f"peak RSS MiB, {name}", peak, tool_rss, "{:.0f}")
    print("tool: pocketsphinx_continuous -infile, one process per file; its CPU excludes its "
          "model load. It prints no partials and finishes at its own pauses: n/a.")


if __name__ == "__main__":
    sys.exit(main())

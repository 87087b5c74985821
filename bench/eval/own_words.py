"""A person's own words: how often scrivia writes them as spelled, and what
they cost on ordinary prose, at start-up and in memory.

Reads bench/eval/own_words.txt (40 entries the dictionary lacks), puts each
in two sentences, has two flite voices and two espeak-ng voices read the 80,
decodes them with and without the file and prints entry recall: the share of
entries written exactly as spelled. Then decodes the evaluation's prose
readings with a 500-entry file (the 40 and capitalised words of the system
word list the dictionary lacks), with the 40 alone and without, and starts with 2,000 entries
and with none. Run from the repository root after building
scrivia_decode_files:
    python3 bench/eval/own_words.py --build build [--every N] [--only recall,prose,start]
"""

import argparse
import os
import random
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import run  # noqa: E402  the evaluation's sets, scoring and marks

VOICES = [("flite", "slt"), ("flite", "awb"), ("espeak-ng", "en-us"), ("espeak-ng", "en-gb")]
TEMPLATES = [
    "i sent the notes to {} this morning",
    "we talked about {} in the meeting today",
    "can you ask {} before friday",
    "the new version of {} came out last week",
    "my manager said {} was the right choice",
    "please check what {} says about it",
    "yesterday {} took most of the afternoon",
    "there is a problem with {} again",
]


def entries():
    found = []
    for line in open(f"{HERE}/own_words.txt"):
        if line.strip() and not line.startswith("#"):
            written, _, spoken = line.strip().partition(" = ")
            found.append((written, spoken or written.lower()))
    return found


def sentences(own):
    """80 (uid, reference, said): each entry in two sentences."""
    rows = []
    for n, (written, spoken) in enumerate(own):
        for k in (n % len(TEMPLATES), (n + 3) % len(TEMPLATES)):
            rows.append((f"s{len(rows):02d}", TEMPLATES[k].format(written),
                         TEMPLATES[k].format(spoken)))
    return rows


def read_aloud(out, rows):
    """{voice: [(uid, path, reference)]}"""
    os.makedirs(f"{out}/own", exist_ok=True)
    sets = {}
    for tool, voice in VOICES:
        files = sets.setdefault(f"{tool}:{voice}", [])
        for uid, ref, said in rows:
            path = f"{out}/own/{tool}-{voice}-{uid}.wav"
            if not os.path.exists(path):
                cmd = (["flite", "-voice", voice, "-t", said, "-o", path] if tool == "flite"
                       else ["espeak-ng", "-v", voice, "-w", path, said])
                subprocess.run(cmd, check=True, capture_output=True)
            files.append((f"{voice}-{uid}", path, ref))
    return sets


def decode(driver, out, name, files, words=None, paced=False):
    """{uid: text}, load CPU seconds, peak RSS MiB, first partials."""
    listing, hyp = f"{out}/{name}.list", f"{out}/{name}.trn"
    with open(listing, "w") as f:
        f.writelines(f"{uid} {path}\n" for uid, path, _ in files)
    args = [driver] + (["--paced"] if paced else []) + (["--words", words] if words else [])
    lines = subprocess.run(args + [listing, hyp], check=True, capture_output=True,
                           text=True).stdout.splitlines()
    figures = {l.split()[0]: [float(x) for x in l.split()[1:]] for l in lines}
    # As written, capitals kept: run.transcript() lowers them.
    texts = {m.group(2): m.group(1).strip() for m in
             (re.match(r"^(.*)\((\S+)\)\s*$", l) for l in open(hyp))}
    first = [figures[u][3] for u, _, _ in files if figures[u][3] >= 0]
    return ({u: texts.get(u, "") for u, _, _ in files}, figures["load_cpu_seconds"][0],
            figures["peak_rss_mib"][0], first)


def spelled_in(text, written):
    return re.search(r"(?<![\w])" + re.escape(written) + r"(?![\w])", text) is not None


def recall(own, files, texts):
    said = [(w, texts[u]) for u, _, ref in files for w, _ in own if spelled_in(ref, w)]
    return sum(spelled_in(text, w) for w, text in said) / max(1, len(said))


def lacking_words(own, count):
    """The 40 entries and `count` capitalised words of the word list the dictionary lacks."""
    known = {l.split()[0] for l in open(f"{run.MODEL}/cmudict-en-us.dict")}
    words = sorted({w.strip() for w in open("/usr/share/dict/american-english")
                    if re.fullmatch(r"[A-Z][a-z]{3,}", w.strip()) and w.strip().lower() not in known})
    chosen = random.Random(5).sample(words, count)
    return [f"{w} = {s}" if s != w.lower() else w for w, s in own] + chosen


def write_words(out, name, lines):
    path = f"{out}/{name}.txt"
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    return path


def plain(text):
    return re.sub(r"[^\w' ]", " ", text.lower())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--every", type=int, default=1, help="only every so many readings")
    parser.add_argument("--only", default="recall,prose,start")
    args = parser.parse_args()
    out = f"{args.build}/eval"
    os.makedirs(out, exist_ok=True)
    driver = f"{args.build}/bench/scrivia_decode_files"
    own, only = entries(), args.only.split(",")
    own_file = write_words(out, "own-words",
                           [f"{w} = {s}" if s != w.lower() else w for w, s in own])

    if "recall" in only:
        print("entry recall (entries written exactly as spelled)   without   with")
        for voice, files in read_aloud(out, sentences(own)).items():
            files = files[::args.every]
            name = "own-" + voice.replace(":", "-")
            without = recall(own, files, decode(driver, out, name + "-without", files)[0])
            with_ = recall(own, files, decode(driver, out, name + "-with", files, own_file)[0])
            print(f"  {voice:<12} {len(files):3d} readings                      "
                  f"{without:6.3f}  {with_:6.3f}", flush=True)

    if "prose" in only:
        sets = run.prepare(out)
        files = [f for f in sets["synthetic"] if f[0].split("-")[1][0] == "p"] + sets["human"]
        files = files[::args.every]
        words = write_words(out, "own-words-500", lacking_words(own, 460))
        marks = run.spoken_marks(driver)
        spellings = [l.partition(" = ")[0] for l in open(words).read().splitlines()]
        result = {}
        for label, path in (("without", None), ("with 40", own_file), ("with 500", words)):
            texts = decode(driver, out, "own-prose-" + label.replace(" ", "-"), files, path)[0]
            edits = sum(run.wer(plain(r), plain(texts[u])) * len(r.split()) for u, _, r in files)
            false_entries = sum(spelled_in(texts[u], w) and not spelled_in(r, w)
                                for u, _, r in files for w in spellings)
            false_marks = sum(len(run.marks_in(plain(texts[u]), marks)) -
                              len(run.marks_in(plain(r), marks)) for u, _, r in files)
            result[label] = (edits / sum(len(r.split()) for _, _, r in files), false_entries,
                             false_marks)
        print(f"prose, {len(files)} readings          WER    false entries/100   marks heard unsaid")
        for label, (w, fe, fm) in result.items():
            print(f"  {label:<10}                 {w:.4f}   {100 * fe / len(files):8.2f}"
                  f"             {fm}")
        print(f"  WER ratio {result['with 500'][0] / result['without'][0]:.3f} with 500, "
              f"{result['with 40'][0] / result['without'][0]:.3f} with 40")

    if "start" in only:
        human = run.prepare(out)["human"][:5]
        big = write_words(out, "own-words-2000", lacking_words(own, 1960))
        print("start-up, 5 human readings paced   load CPU s   first partial s   peak RSS MiB")
        for label, path in (("none", None), ("2,000", big)):
            _, load, rss, first = decode(driver, out, "own-start", human, path, paced=True)
            print(f"  {label:<6} entries                  {load:6.3f}       "
                  f"{sum(first) / max(1, len(first)):6.3f}          {rss:7.1f}", flush=True)


if __name__ == "__main__":
    main()

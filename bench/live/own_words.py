"""What checking a person's entries costs live: the real program on a private
sound server, flite's slt reading 20 of bench/eval/own_words.py's 80
sentences, each followed by room noise, with the 40 entries and without.
Prints the entries written as spelled, last partial -> final and CPU per
audio second. Run from the repository root:
    python3 bench/live/own_words.py
"""

import importlib.util
import os
import random
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, f"{HERE}/../eval")
import own_words as ow  # noqa: E402  the entries, their sentences and readings

spec = importlib.util.spec_from_file_location("live", f"{HERE}/run.py")
live = importlib.util.module_from_spec(spec)
spec.loader.exec_module(live)


def main():
    out = f"{live.ROOT}/build-live"
    binary = live.build(out, "default", [], ["scrivia"]) + "/scrivia"
    own = ow.entries()
    rows = ow.sentences(own)[::4]
    os.makedirs(f"{out}/eval", exist_ok=True)
    files = ow.read_aloud(f"{out}/eval", rows)["flite:slt"]
    words = ow.write_words(f"{out}/eval", "own-words",
                           [f"{w} = {s}" if s != w.lower() else w for w, s in own])
    rng = random.Random(13)
    samples = live.ev.room_noise(live.LEAD * live.RATE, rng)
    for _, path, _ in files:
        rate, audio = live.ev.read_samples(path)
        if rate != live.RATE:
            sys.exit(f"{path}: {rate} Hz, the microphone takes {live.RATE}")
        samples += audio + live.ev.room_noise(live.GAP * live.RATE, rng)
    wav = f"{out}/own-words-session.wav"
    live.ev.write_samples(wav, live.RATE, samples)
    said = [w for w, _ in own if any(ow.spelled_in(ref, w) for _, _, ref in files)]
    print("slt, 20 sentences        entries written   last partial -> final p50 / p90   CPU s/s")
    for label, options in (("without", []), ("with 40", ["--words", words])):
        events, _, stopped, cpu, _ = live.live(binary, options, wav, len(samples))
        texts, finals, last = [], [], None
        for ns, event in events:
            if event["type"] == "partial" and event["text"]:
                last = ns
            elif event["type"] == "final":
                texts.append(event["text"])
                if last and ns < stopped:
                    finals.append((ns - last) / 1e9)
                last = None
        written = sum(any(ow.spelled_in(t, w) for t in texts) for w in said)
        print(f"  {label:<8}               {written:2d} / {len(said)}           "
              f"{live.ev.percentile(finals, 50):5.2f} / {live.ev.percentile(finals, 90):5.2f}"
              f"                {cpu / (len(samples) / live.RATE):.3f}", flush=True)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""The module's speed against the program's, measured in one run.

    PYTHONPATH=build/python /usr/bin/python3 python/bench/bench_module.py [--seconds 120] [--program PATH]

1. One file through `varsile process` and through the module (read, process,
   write), same settings: the ratio module / program; the goal is <= 1.10.
2. Two Gates on two threads against the same two one after the other: the
   ratio threads / sequential; the goal is <= 0.6 on two cores.
Repetitions alternate and the fastest of each counts, as the machine is shared.
"""
import argparse
import os
import subprocess
import tempfile
import threading
import time

import numpy as np
import soundfile

import varsile

SETTINGS = dict(key="D", scale="dorian", attack=0.02, release=0.02)
OPTIONS = ["--key", "D", "--scale", "dorian", "--attack", "0.02", "--release", "0.02"]


def audio(seconds, rate=44100, channels=2):
    rng = np.random.default_rng(1)
    notes = 220.0 * 2 ** (rng.integers(0, 24, int(seconds * 4)) / 12)
    hz = np.repeat(notes, rate // 4)[: int(seconds * rate)]
    tone = 0.4 * np.sin(2 * np.pi * np.cumsum(hz) / rate) + 0.01 * rng.standard_normal(hz.size)
    return np.stack([tone] * channels).astype(np.float32), rate


def timed(work):
    began = time.perf_counter()
    work()
    return time.perf_counter() - began


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=120.0)
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--program", default=os.path.join("build", "tools", "varsile", "varsile"))
    args = parser.parse_args()

    x, rate = audio(args.seconds)
    with tempfile.TemporaryDirectory() as folder:
        source = os.path.join(folder, "in.wav")
        soundfile.write(source, x.T, rate, subtype="FLOAT")

        def program():
            subprocess.run([args.program, "process", source, "-o", os.path.join(folder, "cli.wav"), *OPTIONS],
                           check=True, capture_output=True)

        def module():
            y, r = soundfile.read(source, dtype="float32")
            soundfile.write(os.path.join(folder, "py.wav"), varsile.process(y.T, r, **SETTINGS).T, r, subtype="FLOAT")

        cli_runs, module_runs = [], []
        for _ in range(args.repetitions):
            cli_runs.append(timed(program))
            module_runs.append(timed(module))
        same = np.array_equal(soundfile.read(os.path.join(folder, "cli.wav"))[0],
                              soundfile.read(os.path.join(folder, "py.wav"))[0])

    gates = [varsile.Gate(rate, 2, **SETTINGS) for _ in range(2)]

    def sequential():
        for gate in gates:
            gate.process(x)

    def threaded():
        threads = [threading.Thread(target=gate.process, args=(x,)) for gate in gates]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

    sequential_runs, threaded_runs, cores_used = [], [], []
    for _ in range(args.repetitions):
        sequential_runs.append(timed(sequential))
        cpu = time.process_time()
        threaded_runs.append(timed(threaded))
        cores_used.append((time.process_time() - cpu) / threaded_runs[-1])

    c, m = min(cli_runs), min(module_runs)
    s, t = min(sequential_runs), min(threaded_runs)
    print(f"{args.seconds:.0f} s of stereo audio at {rate} Hz, fastest of {args.repetitions}; {os.cpu_count()} cores")
    print(f"varsile process        {c:7.3f} s")
    print(f"module, file to file   {m:7.3f} s   ratio {m / c:.3f} (goal <= 1.10), output identical: {same}")
    print(f"two Gates, sequential  {s:7.3f} s")
    print(f"two Gates, two threads {t:7.3f} s   ratio {t / s:.3f} (goal <= 0.60)")
    # Below 2 the machine's other work, not the module, kept the threads apart.
    print(f"cores the threads had  {max(cores_used):7.2f}")


if __name__ == "__main__":
    main()

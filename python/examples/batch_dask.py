#!/usr/bin/env python3
"""Gate every audio file of a folder tree on a Dask cluster, one task per file.

    batch_dask.py IN_DIR OUT_DIR --key D --scale dorian [--scheduler tcp://host:8786]

Each output keeps its path under OUT_DIR, its sample rate, channels and
sample format, and appears only when complete (written beside its target and
renamed). Without --scheduler a LocalCluster with --workers processes runs on
this machine; with it, every worker must be able to `import varsile`.
"""
import argparse
import os
import sys
import tempfile
import time

import soundfile
from dask.distributed import Client, LocalCluster

GATE_OPTIONS = ("key", "scale", "out_of_scale", "master", "attack", "release", "a4")


def gate_file(source, target, settings):
    """One task: returns (source, seconds of audio, error or None)."""
    import varsile  # on the worker

    try:
        info = soundfile.info(source)
        audio, rate = soundfile.read(source, dtype="float32", always_2d=True)
        gated = varsile.process(audio.T, rate, **settings).T
        os.makedirs(os.path.dirname(target), exist_ok=True)
        handle, pending = tempfile.mkstemp(dir=os.path.dirname(target), prefix=".", suffix=".part")
        os.close(handle)
        try:
            soundfile.write(pending, gated, rate, subtype=info.subtype, format=info.format)
            os.replace(pending, target)
        except BaseException:
            os.unlink(pending)
            raise
        return source, info.duration, None
    except Exception as failure:  # reported in the summary; the other files go on
        return source, 0.0, f"{type(failure).__name__}: {failure}"


def audio_files(folder):
    extensions = {"." + name.lower() for name in soundfile.available_formats()}
    for root, _, names in os.walk(folder):
        for name in sorted(names):
            if os.path.splitext(name)[1].lower() in extensions and not name.startswith("."):
                yield os.path.join(root, name)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("input")
    parser.add_argument("output")
    parser.add_argument("--scheduler", help="address of a running scheduler (default: a LocalCluster)")
    parser.add_argument("--workers", type=int, default=os.cpu_count(), help="LocalCluster worker processes")
    for option in GATE_OPTIONS:
        parser.add_argument("--" + option.replace("_", "-"), type=str if option in ("key", "scale") else float)
    args = parser.parse_args(argv)
    settings = {o: getattr(args, o) for o in GATE_OPTIONS if getattr(args, o) is not None}

    if os.path.realpath(args.input) == os.path.realpath(args.output):
        parser.error("the output folder must not be the input folder")
    sources = list(audio_files(args.input))
    targets = [os.path.join(args.output, os.path.relpath(s, args.input)) for s in sources]
    began = time.monotonic()
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        client = Client(LocalCluster(n_workers=args.workers, threads_per_worker=1, dashboard_address=None))
    with client:
        tasks = client.map(gate_file, sources, targets, settings=settings, pure=False)
        results = client.gather(tasks)

    failed = [(source, error) for source, _, error in results if error]
    for source, error in failed:
        print(f"{source}: {error}", file=sys.stderr)
    audio = sum(seconds for _, seconds, _ in results)
    wall = time.monotonic() - began
    print(f"{len(results) - len(failed)} of {len(results)} files gated, {audio / 60:.1f} min of audio "
          f"in {wall:.1f} s ({audio / max(wall, 1e-9):.0f}x real time)")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

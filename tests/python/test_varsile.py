# The module against the program it must agree with (VARSILE_PROGRAM).
import os
import subprocess
import sys

import numpy as np
import pytest
import soundfile

import varsile

RATE = 44100
PROGRAM = os.environ.get("VARSILE_PROGRAM", "varsile")
EXAMPLE = os.path.join(os.path.dirname(__file__), "..", "..", "python", "examples", "batch_dask.py")


def melody(seconds=3.0, channels=2):
    """C, C#, G, a second each; the second channel quieter."""
    t = np.arange(int(RATE * seconds)) / RATE
    hz = np.select([t < 1, t < 2], [261.63, 277.18], 392.0)
    tone = 0.5 * np.sin(2 * np.pi * np.cumsum(hz) / RATE)
    return np.stack([tone * (1 - 0.3 * c) for c in range(channels)]).astype(np.float32)


def cli(*arguments):
    return subprocess.run([PROGRAM, *arguments], check=True, capture_output=True, text=True).stdout


@pytest.fixture
def song(tmp_path):
    path = tmp_path / "song.wav"
    soundfile.write(path, melody().T, RATE, subtype="FLOAT")
    return path


def test_equals_the_program_with_options_and_with_a_preset_it_saved(song, tmp_path):
    settings = dict(key="Db", scale="major", out_of_scale=10, attack=0.05, release=0.02, volumes={"fifth": 30})
    ours = varsile.process(melody(), RATE, **settings)
    cli("process", str(song), "-o", str(tmp_path / "a.wav"), "--key", "Db", "--scale", "major",
        "--out-of-scale", "10", "--attack", "0.05", "--release", "0.02", "--volume", "fifth=30")
    theirs, _ = soundfile.read(tmp_path / "a.wav", dtype="float32")
    assert np.array_equal(ours, theirs.T)

    varsile.Gate(RATE, 2, **settings).save_preset(str(tmp_path / "p.aupreset"))
    cli("process", str(song), "-o", str(tmp_path / "b.wav"), "--preset", str(tmp_path / "p.aupreset"))
    assert np.array_equal(soundfile.read(tmp_path / "b.wav", dtype="float32")[0], theirs)
    cli("process", str(song), "-o", str(tmp_path / "c.wav"), "--lookahead", "--scale", "major")
    assert np.array_equal(varsile.process(melody(), RATE, scale="major", lookahead=True),
                          soundfile.read(tmp_path / "c.wav", dtype="float32")[0].T)
    restored = varsile.Gate.from_preset(str(tmp_path / "p.aupreset"), RATE, 2)
    assert restored.key == "C#" and restored.volumes["fifth"] == 30 and restored.volumes["minor second"] == 10


@pytest.mark.parametrize("lookahead", [False, True])
def test_streaming_in_uneven_chunks_equals_one_call(lookahead):
    x = melody()
    settings = dict(scale="minor-pentatonic", attack=0.01, release=0.01, lookahead=lookahead)
    whole = varsile.process(x, RATE, **settings)
    gate = varsile.Gate(RATE, 2, **settings)
    cuts = [0, 1, 700, 701, 5000, 44100, 90001, x.shape[1]]
    parts = [gate.process(x[:, a:b]) for a, b in zip(cuts, cuts[1:])] + [gate.flush()]
    streamed = np.concatenate(parts, axis=1)
    assert streamed.shape[1] == x.shape[1] + gate.latency
    assert not streamed[:, : gate.latency].any()
    assert np.array_equal(streamed[:, gate.latency :], whole)
    # flush started a new stream: the same input gives the same output again
    assert np.array_equal(gate.process(x)[:, gate.latency :], whole[:, : -gate.latency])


def test_shapes_dtypes_layouts_and_bad_arguments():
    mono = melody(1.0, 1)[0]
    expected = varsile.process(mono, RATE, scale="major")
    assert expected.shape == mono.shape and expected.dtype == np.float32
    assert np.array_equal(varsile.process(mono.astype(np.float64), RATE, scale="major"), expected)
    stereo = np.ascontiguousarray(np.stack([mono, mono]).T).T  # channels strided, as from soundfile
    assert np.array_equal(varsile.process(stereo, RATE, scale="major"), np.stack([expected, expected]))
    assert varsile.process(np.zeros((2, 0)), RATE).shape == (2, 0)

    gate = varsile.Gate(RATE, 2)
    for call, message in [
        (lambda: gate.process(stereo.T), r"this gate has 2 channels; give it an array shaped \(2, frames\)"),
        (lambda: gate.process(np.zeros((2, 2, 2))), "shaped"),
        (lambda: setattr(gate, "attack", 20), r"--attack 20 is out of range: attack time takes 0.01 to 10 s"),
        (lambda: varsile.Gate(RATE, key="H"), "unknown key 'H'"),
        (lambda: varsile.Gate(RATE, scale="jazz"), "unknown scale 'jazz'"),
        (lambda: varsile.Gate(RATE, volumes={"third": 5}), "unknown interval 'third'"),
        (lambda: varsile.Gate(RATE, out_of_scale=5), "--out-of-scale needs --scale"),
        (lambda: varsile.Gate(0), "sample rate"),
        (lambda: gate.parameters.__setitem__("current note", 3), "read-only"),
        (lambda: gate.parameters.__setitem__("sharpness", 3), "unknown parameter 'sharpness'"),
    ]:
        with pytest.raises(ValueError, match=message):
            call()
    with pytest.raises(KeyError):
        gate.parameters["sharpness"]
    with pytest.raises(TypeError):
        varsile.process(np.ones(10, dtype=complex), RATE)
    gate.parameters["minor third"] = 40
    assert gate.volumes["minor third"] == 40 and gate.scale is None
    gate.key = "A"
    assert gate.key == "A" and gate.parameters["key"] == 9


def test_analysis_equals_the_program(song):
    rows = [r.split(",") for r in cli("analyze", "--min-note", "0", "--format", "csv", str(song)).splitlines()[1:]]
    table = [r for r in rows if r[2] == "1"]
    ours = [s for s in varsile.analyze(melody(), RATE, min_note=0) if s["channel"] == 0]
    assert len(ours) == len(table)
    for segment, (start, end, _, name, _, accuracy) in zip(ours, table):
        assert (f"{segment['start']:.6f}", f"{segment['end']:.6f}") == (start, end)
        assert name == (segment["name"] if segment["pitch_class"] is not None else "-")
        assert f"{segment['accuracy']:.2f}" == accuracy
    merged = varsile.analyze(melody(), RATE)
    assert [(s["channel"], s["name"]) for s in merged] == [(c, n) for c in (0, 1) for n in ("C", "C#", "G")]
    assert [s["pitch_class"] for s in varsile.analyze(np.zeros(RATE), RATE)] == [None]


def test_dask_example_gates_a_folder_tree(tmp_path):
    source = tmp_path / "in"
    (source / "a" / "b").mkdir(parents=True)
    soundfile.write(source / "one.wav", melody(1.0).T, RATE, subtype="PCM_24")
    soundfile.write(source / "a" / "b" / "two.flac", melody(1.5, 1)[0], RATE)
    (source / "notes.txt").write_text("not audio")
    done = subprocess.run([sys.executable, EXAMPLE, str(source), str(tmp_path / "out"), "--scale", "major",
                           "--workers", "2"], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    assert "2 of 2 files gated" in done.stdout
    for name in ("one.wav", "a/b/two.flac"):
        audio, rate = soundfile.read(source / name, dtype="float32", always_2d=True)
        gated, _ = soundfile.read(tmp_path / "out" / name, dtype="float32", always_2d=True)
        assert soundfile.info(tmp_path / "out" / name).subtype == soundfile.info(source / name).subtype
        expected = varsile.process(audio.T, rate, scale="major").T
        assert np.allclose(gated, expected, atol=2.0 ** -15)
    assert sorted(p.name for p in (tmp_path / "out").rglob("*")) == ["a", "b", "one.wav", "two.flac"]


def test_gates_on_threads_give_what_they_give_alone():
    from concurrent.futures import ThreadPoolExecutor

    x = melody()
    alone = varsile.process(x, RATE, scale="major")
    with ThreadPoolExecutor(2) as pool:
        results = list(pool.map(lambda _: varsile.process(x, RATE, scale="major"), range(4)))
    assert all(np.array_equal(r, alone) for r in results)

"""Music: the mixer opened at 44100 Hz, signed 16-bit little-endian, stereo, chunk 256;
the music played once from position 0; every failure of the audio library printed and the show
going on silently with status 0."""

import time

import numpy as np
import pytest

import harness as h

LOAD, PLAY, POSITION = "Unable to load Ogg file: ", "Unable to play Ogg file: ", "Mix_SetMusicPosition: "
RATE = 44100


@pytest.fixture(scope="module")
def tone(tmp_path_factory):
    """One second of 440 Hz, then 19 seconds of 660 Hz."""
    return h.make_music(tmp_path_factory.mktemp("music") / "tone.ogg", ((440.0, 1.0), (660.0, 19.0)))


def play_for(name, x, workdir, seconds, **kw):
    """Runs the show for a while, checks that it is still running, then ends it with Escape."""
    run = h.Run(name, workdir, x, **kw)
    with run:
        window = x.wait_window(name, run.proc)
        h.wait_until(lambda: x.window_name(window) == h.TITLE or not run.alive(), 30, what="the caption")
        time.sleep(seconds)
        assert run.alive(), f"the show stopped: status {run.proc.returncode}, stdout {run.stdout()!r}, " \
                            f"stderr {run.stderr()[-2000:]!r}"
        x.key("Escape")
        status = run.wait(15)
        assert status == 0, f"status {status}: {run.stdout()!r}"
        calls = run.calls()
        assert h.count_calls(calls, "SDL_Quit") == 1
        assert "Virhekoodi" not in run.stdout()
        return run.lines(), calls


def assert_audio_messages(lines):
    """Only the three audio messages, each at most once, in the order of demoinit."""
    order = [LOAD, PLAY, POSITION]
    kinds = []
    for line in lines:
        kind = next((p for p in order if line.startswith(p)), None)
        assert kind is not None, f"unexpected line {line!r}"
        assert len(line) > len(kind), f"no reason in {line!r}"
        kinds.append(order.index(kind))
    assert kinds == sorted(set(kinds)), lines


def dominant_frequency(samples):
    spectrum = np.abs(np.fft.rfft(samples * np.hanning(len(samples))))
    return np.argmax(spectrum) * RATE / len(samples)


def test_without_the_music_file_the_show_runs_on_silently(x720, tmp_path):
    lines, calls = play_for("vellamor", x720, h.make_workdir(tmp_path, music="none"), 1.5)
    assert lines == ["Unable to load Ogg file: Couldn't open 'data/ruvo_megasong_bpm_124c.ogg'",
                     "Unable to play Ogg file: music parameter was NULL",
                     "Mix_SetMusicPosition: Music isn't playing"]
    assert "Mix_LoadMUS data/ruvo_megasong_bpm_124c.ogg -> null" in calls
    assert h.swaps_at_quit(calls) >= 2


def test_without_an_audio_device_the_show_runs_on_silently(x720, tmp_path, tone):
    """No working audio driver: Mix_OpenAudio fails (its result is ignored), so playing fails and
    positioning is refused, with the mixer's messages. The classic SDL comes up without audio by
    itself; SDL 2 under sdl12-compat fails SDL_Init as a whole, so the program starts SDL again
    without audio and says why first."""
    lines, calls = play_for("vellamor", x720, h.make_workdir(tmp_path, music=tone), 1.5, audio="nonexistent")
    inits = [c for c in calls if c.startswith("SDL_Init ")]
    if h.on_compat():
        assert inits == ["SDL_Init 0x100031 -> -1", "SDL_Init 0x100021 -> 0"], calls
        first = lines.pop(0)
        assert first.startswith("SDL_Init: ") and len(first) > len("SDL_Init: "), first
    else:
        assert inits == ["SDL_Init 0x100031 -> 0"], calls
    assert len(lines) == 2 and lines[0].startswith(PLAY) and lines[1].startswith(POSITION), lines
    assert_audio_messages(lines)
    assert "Mix_OpenAudio 44100 0x8010 2 256 -> -1" in calls
    assert h.swaps_at_quit(calls) >= 2


def test_the_music_really_plays_from_its_start(x720, tmp_path, tone):
    """With SDL's disk audio driver the mixer's output lands in a file: the made tone, at the
    device's 44100 Hz stereo, from its first second on."""
    workdir = h.make_workdir(tmp_path, music=tone)
    out = tmp_path / "audio.raw"
    env = {"SDL_DISKAUDIOFILE": str(out), "SDL_DISKAUDIODELAY": "5"}
    lines, calls = play_for("vellamor", x720, workdir, 2.5, audio="disk", env=env)
    assert lines == [], "audio messages with a good music file and device"
    assert "Mix_OpenAudio 44100 0x8010 2 256 -> 0" in calls
    assert "Mix_LoadMUS data/ruvo_megasong_bpm_124c.ogg -> ok" in calls
    assert "Mix_PlayMusic music 0 -> 0" in calls
    assert "Mix_SetMusicPosition 0 -> 0" in calls

    samples = np.fromfile(out, dtype="<i2").reshape(-1, 2).astype(float)
    seconds = len(samples) / RATE
    assert seconds > 1.8, f"only {seconds:.2f} s of audio"
    loud = np.nonzero(np.abs(samples[:, 0]) > 1000)[0]
    assert len(loud) > RATE, "the output is silent"
    start = loud[0]
    assert start < RATE // 10, f"the music starts {start / RATE:.3f} s into the output"
    window = 4096
    # 440 Hz over the file's first second, 660 Hz after it: played from position 0 at the right pace.
    for t, expected in ((0.1, 440), (0.5, 440), (0.85, 440), (1.15, 660), (1.6, 660)):
        i = start + int(t * RATE)
        for channel in (0, 1):
            f = dominant_frequency(samples[i:i + window, channel])
            assert abs(f - expected) < 15, f"{f:.0f} Hz at {t} s, channel {channel}"
    rms = np.sqrt((samples[start:start + RATE] ** 2).mean())
    assert rms > 3000, f"rms {rms:.0f}"


def bad_music(kind, tone, tmp_path):
    good = tone.read_bytes()
    if kind == "empty":
        return b""
    if kind == "truncated-in-headers":
        return good[:1500]
    if kind == "truncated-in-audio":
        return good[:len(good) // 3]
    if kind == "random-bytes":
        return h.random_bytes(65536, 1)
    if kind == "ogg-page-then-random":
        return good[:58] + h.random_bytes(65536, 2)
    if kind == "corrupted-audio":
        data = bytearray(good)
        noise = h.random_bytes(len(data), 3)
        for i in range(5000, len(data), 7):
            data[i] = noise[i]
        return bytes(data)
    raise ValueError(kind)


# What a bad file does to the decoder is the mixer's affair, the same library on both SDL 1.2
# implementations; how it is read (an empty file) is the implementation's.
READ_BY_SDL = {"empty"}


@pytest.mark.parametrize("kind", ["empty", "truncated-in-headers", "truncated-in-audio", "random-bytes",
                                  "ogg-page-then-random", "corrupted-audio", "directory"])
def test_a_bad_music_file_never_crashes_the_show(kind, x720, tmp_path, tone):
    if h.on_compat() and kind not in READ_BY_SDL:
        pytest.skip("decoded by SDL_mixer alone: run on the classic SDL 1.2 only")
    if kind == "directory":
        workdir = h.make_workdir(tmp_path, music="none")
        (workdir / "data" / h.MUSIC).mkdir()
    else:
        workdir = h.make_workdir(tmp_path, music=bad_music(kind, tone, tmp_path))
    lines, calls = play_for("vellamor", x720, workdir, 2.0, audio="dummy")
    assert_audio_messages(lines)
    if kind in ("empty", "truncated-in-headers", "random-bytes", "directory"):
        assert lines and lines[0].startswith(LOAD), lines
    assert h.swaps_at_quit(calls) >= 2

"""The command lines of mksong and mklogo: help, usage errors and unwritable outputs fail
clearly, and nothing half-written is left behind."""

import subprocess


def run(*cmd):
    return subprocess.run([str(c) for c in cmd], capture_output=True, text=True, timeout=60)


def test_help(mksong, mklogo):
    for tool, name in ((mksong, "mksong"), (mklogo, "mklogo")):
        r = run(tool, "--help")
        assert r.returncode == 0
        assert f"Usage: {name}" in r.stdout


def test_usage_errors(mksong, mklogo):
    for tool in (mksong, mklogo):
        for args in ((), ("--no-such-option",), ("a", "b"), ("-",)):
            r = run(tool, *args)
            assert r.returncode != 0, f"{tool} {args}"
            assert "Usage:" in r.stderr


def test_unwritable_output_fails_cleanly(mksong, mklogo, tmp_path):
    missing = tmp_path / "no" / "such" / "dir"
    for tool, name in ((mksong, "x.ogg"), (mklogo, "x.png")):
        r = run(tool, missing / name)
        assert r.returncode == 1
        assert "cannot create" in r.stderr
    assert list(tmp_path.iterdir()) == []


def test_output_appears_only_when_complete(mklogo, tmp_path):
    out = tmp_path / "logo.png"
    r = run(mklogo, out)
    assert r.returncode == 0, r.stderr
    assert [p.name for p in tmp_path.iterdir()] == ["logo.png"], "no temporary file left behind"

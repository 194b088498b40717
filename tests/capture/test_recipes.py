"""The repository's recipes for a capture in parts, end to end: the Slurm batch script on a
real one-node Slurm started here, and the GNU parallel script on this machine, locally and
over ssh to an sshd on 127.0.0.1. Each makes the
joined video of a short range, losslessly, so its decoded frames can be compared with those of
one process's video exactly."""

import contextlib
import os
import re
import shutil
import signal
import subprocess
import tempfile
from pathlib import Path

import pytest

from conftest import leftovers, run
from support.processes import die_with_parent, terminate, wait_until
from support.slurm import free_port, one_node_slurm, wait_for_jobs

SCRIPTS = Path(__file__).resolve().parents[2] / "scripts"
BARS, SIZE, FRAMES = "31:32", "320x180", 232
LOSSLESS = "--crf 0 --preset ultrafast"


def frames(video):
    """The MD5 of each decoded frame, in order."""
    p = subprocess.run(["ffmpeg", "-v", "error", "-i", str(video), "-map", "0:v", "-f",
                        "framemd5", "-"], capture_output=True, text=True, check=True)
    return [line.split(",")[-1].strip() for line in p.stdout.splitlines()
            if not line.startswith("#")]


@pytest.fixture(scope="module")
def one_process(capture_bin, data_dir, tmp_path_factory):
    video = tmp_path_factory.mktemp("one") / "whole.mp4"
    run(capture_bin, "--data", data_dir, "video", "--bars", BARS, "--size", SIZE,
        *LOSSLESS.split(), "-o", video)
    got = frames(video)
    assert len(got) == FRAMES
    return got


def recipe_env(base, capture_bin, data_dir, out, parts=3, size=SIZE):
    return dict(base, PARTS=str(parts), SIZE=size, SUPERSAMPLE="1", BARS=BARS,
                OUTPUT_DIR=str(out), CAPTURE=str(capture_bin), DATA=str(data_dir),
                VIDEO_OPTIONS=LOSSLESS, CPUS_PER_PART="1")


@contextlib.contextmanager
def local_sshd():
    """An sshd on 127.0.0.1 that takes a key of its own, and the ssh command that logs in with
    it; everything in a temporary folder."""
    with tempfile.TemporaryDirectory(prefix="vellamor-ssh-", dir="/tmp") as name:
        root = Path(name)
        for key in ("host", "user"):
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f",
                            str(root / key)], check=True)
        shutil.copy(root / "user.pub", root / "authorized_keys")
        port = free_port()
        (root / "sshd_config").write_text(
            f"ListenAddress 127.0.0.1\nPort {port}\nHostKey {root}/host\n"
            f"AuthorizedKeysFile {root}/authorized_keys\nPidFile {root}/sshd.pid\n"
            "PermitRootLogin prohibit-password\nPasswordAuthentication no\n"
            "KbdInteractiveAuthentication no\nUsePAM no\nStrictModes no\n")
        with contextlib.suppress(PermissionError):  # root's sshd wants this folder
            Path("/run/sshd").mkdir(exist_ok=True)
        sshd = subprocess.Popen([shutil.which("sshd") or "/usr/sbin/sshd", "-D", "-f",
                                 str(root / "sshd_config"), "-E", str(root / "sshd.log")],
                                preexec_fn=die_with_parent(signal.SIGTERM))
        ssh = (f"ssh -p {port} -i {root}/user -o BatchMode=yes -o StrictHostKeyChecking=no "
               "-o UserKnownHostsFile=/dev/null -o LogLevel=ERROR")
        try:
            wait_until(lambda: subprocess.run([*ssh.split(), "127.0.0.1", "true"],
                                              capture_output=True).returncode == 0, 20,
                       interval=0.1, what="sshd")
            yield ssh
        finally:
            terminate(sshd)


def test_the_gnu_parallel_recipe_makes_the_one_process_video(capture_bin, data_dir, tmp_path,
                                                            one_process):
    if not shutil.which("parallel"):
        pytest.skip("GNU parallel is not installed")
    out = tmp_path / "out"
    env = recipe_env(os.environ, capture_bin, data_dir, out)
    env["PARALLEL_HOME"] = str(tmp_path / "parallel")
    # Two at a time here.
    p = subprocess.run([str(SCRIPTS / "parallel-video"), "-j", "2"], env=env,
                       capture_output=True, text=True, timeout=600)
    assert p.returncode == 0, p.stderr
    assert frames(out / "vellamor.mp4") == one_process
    # Over ssh, each part drawn in the login folder and brought back with rsync.
    if shutil.which("sshd") or Path("/usr/sbin/sshd").exists():
        (out / "vellamor.mp4").unlink()
        for part in out.glob("part-*"):
            part.unlink()
        with local_sshd() as ssh:
            p = subprocess.run([str(SCRIPTS / "parallel-video"), "-j", "2", "--ssh", ssh, "-S",
                                "127.0.0.1"], env=dict(env, RETURN="1"), capture_output=True,
                               text=True, timeout=600)
        assert p.returncode == 0, p.stderr
        assert frames(out / "vellamor.mp4") == one_process
        assert not list(Path.home().glob("part-*-of-3.mp4"))
    # A part that fails stops the run before any join.
    (out / "vellamor.mp4").unlink()
    env["SIZE"] = "321x180"
    p = subprocess.run([str(SCRIPTS / "parallel-video"), "-j", "2"], env=env,
                       capture_output=True, text=True, timeout=600)
    assert p.returncode != 0 and not (out / "vellamor.mp4").exists()
    assert leftovers(out) == []


def submitted(stdout):
    m = re.search(r"parts: job (\d+) .* join: job (\d+)", stdout)
    assert m, stdout
    return m.groups()


def test_the_slurm_recipe_makes_the_one_process_video(capture_bin, data_dir, tmp_path,
                                                      one_process):
    if not all(shutil.which(p) for p in ("slurmctld", "slurmd", "sbatch", "munged")):
        pytest.skip("Slurm and munge are not installed")
    with one_node_slurm() as env:
        out = tmp_path / "out"
        env = recipe_env(env, capture_bin, data_dir, out)
        p = subprocess.run([str(SCRIPTS / "slurm-video")], env=env, capture_output=True,
                           text=True, timeout=60)
        assert p.returncode == 0, p.stderr
        wait_for_jobs(env, submitted(p.stdout), 600)
        logs = "\n".join(f.read_text() for f in sorted((out / "logs").iterdir()))
        assert (out / "vellamor.mp4").exists(), logs
        assert frames(out / "vellamor.mp4") == one_process
        assert sorted(f.name for f in (out / "logs").iterdir()) == [
            "join.log", "part-1.log", "part-2.log", "part-3.log"]

        # Parts that fail cancel the join instead of leaving it waiting for ever.
        failing = tmp_path / "failing"
        env = recipe_env(env, capture_bin, data_dir, failing, parts=2, size="321x180")
        p = subprocess.run([str(SCRIPTS / "slurm-video")], env=env, capture_output=True,
                           text=True, timeout=60)
        assert p.returncode == 0, p.stderr
        wait_for_jobs(env, submitted(p.stdout), 300)
        assert not (failing / "vellamor.mp4").exists()
        assert "nearest size that fits" in (failing / "logs" / "part-1.log").read_text()

"""A real one-node Slurm for a test: munged, slurmctld and slurmd run as the current user with
everything under a temporary folder, no systemd and no accounting; ended on every way out."""

import contextlib
import getpass
import os
import signal
import socket
import subprocess
import tempfile
from pathlib import Path

from support.processes import die_with_parent, terminate, wait_until

SLURM_CONF = """\
ClusterName=vellamor-test
SlurmctldHost=localhost(127.0.0.1)
SlurmctldPort={ctld_port}
SlurmdPort={d_port}
SlurmUser={user}
SlurmdUser={user}
AuthType=auth/munge
AuthInfo=socket={root}/munge.socket
StateSaveLocation={root}/state
SlurmdSpoolDir={root}/spool
SlurmctldPidFile={root}/slurmctld.pid
SlurmdPidFile={root}/slurmd.pid
SlurmctldLogFile={root}/slurmctld.log
SlurmdLogFile={root}/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
JobAcctGatherType=jobacct_gather/none
SchedulerParameters=batch_sched_delay=0,sched_min_interval=0
MpiDefault=none
ReturnToService=2
NodeName=n1 NodeAddr=127.0.0.1 CPUs=2 State=UNKNOWN
PartitionName=test Nodes=n1 Default=YES MaxTime=INFINITE State=UP
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _daemon(args, root, env):
    with open(root / f"{Path(args[0]).name}.out", "wb") as out:
        return subprocess.Popen(args, cwd=root, env=env, stdout=out, stderr=subprocess.STDOUT,
                                preexec_fn=die_with_parent(signal.SIGTERM))


@contextlib.contextmanager
def one_node_slurm():
    """Starts the cluster in a temporary folder and gives the environment its clients need:
    SLURM_CONF set and any inherited SLURM_* variable (of a test run inside a job) gone."""
    # munged wants every folder above its socket open to all (o+x), which pytest's own
    # temporary folders are not: a folder of its own in /tmp, removed at the end.
    with tempfile.TemporaryDirectory(prefix="vellamor-slurm-", dir="/tmp") as name:
        root = Path(name)
        os.chmod(root, 0o755)
        with _cluster(root) as env:
            yield env


@contextlib.contextmanager
def _cluster(root):
    for sub in ("state", "spool"):
        (root / sub).mkdir()
    env = {k: v for k, v in os.environ.items() if not k.startswith("SLURM_")}
    conf = root / "slurm.conf"
    conf.write_text(SLURM_CONF.format(root=root, user=getpass.getuser(),
                                      ctld_port=free_port(), d_port=free_port()))
    env["SLURM_CONF"] = str(conf)
    subprocess.run(["mungekey", "-c", "-k", str(root / "munge.key")], check=True,
                   capture_output=True)
    daemons = [_daemon(["munged", "-F", "--key-file", str(root / "munge.key"), "--socket",
                        str(root / "munge.socket"), "--pid-file", str(root / "munged.pid"),
                        "--log-file", str(root / "munged.log"), "--seed-file",
                        str(root / "munge.seed")], root, env)]
    try:
        wait_until(lambda: (root / "munge.socket").exists(), 10, what="munged")
        daemons.append(_daemon(["slurmctld", "-D", "-f", str(conf)], root, env))
        daemons.append(_daemon(["slurmd", "-D", "-f", str(conf), "-N", "n1"], root, env))

        def idle():
            p = subprocess.run(["sinfo", "-h", "-n", "n1", "-o", "%t"], env=env,
                               capture_output=True, text=True)
            return p.stdout.strip() == "idle"

        try:
            wait_until(idle, 30, interval=0.2, what="the Slurm node to be idle")
        except AssertionError as e:
            raise AssertionError(f"{e}\n{_logs(root)}") from None
        yield env
    finally:
        if len(daemons) > 1:
            subprocess.run(["scontrol", "shutdown"], env=env, capture_output=True, timeout=30)
            for d in daemons[1:]:
                try:
                    d.wait(10)
                except subprocess.TimeoutExpired:
                    pass
        for d in reversed(daemons):
            terminate(d)


def _logs(root):
    """The daemons' last words, for a cluster that did not come up."""
    said = []
    for name in ("munged.log", "slurmctld.log", "slurmd.log", "slurmd.out"):
        path = root / name
        if path.exists():
            lines = path.read_text(errors="replace").splitlines()[-15:]
            said.append(f"--- {name}\n" + "\n".join(lines))
    return "\n".join(said)


def wait_for_jobs(env, jobs, timeout):
    """Polls squeue until none of `jobs` is queued or running (sbatch --wait polls slower)."""
    def done():
        p = subprocess.run(["squeue", "-h", "-j", ",".join(jobs), "-o", "%i"], env=env,
                           capture_output=True, text=True)
        return p.returncode == 0 and not p.stdout.strip() or p.returncode != 0 and \
            "Invalid job id" in p.stderr
    wait_until(done, timeout, interval=0.2, what=f"Slurm jobs {', '.join(jobs)}")

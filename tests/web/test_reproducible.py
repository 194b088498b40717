"""Two builds of one source in different folders give the same page files, byte for byte: what
is served carries nothing of where it was built. The second build is made here, from a copy of
the source under another path, with the same emscripten build scripts/build-web runs."""

import filecmp
import os
import shutil
import subprocess
from pathlib import Path

from browser import page_files

ROOT = Path(__file__).resolve().parents[2]


def test_a_build_in_another_folder_gives_the_same_files(web_build, tmp_path):
    # Another path, of another length, for the source and for the output.
    source = tmp_path / "another" / "checkout"
    shutil.copytree(ROOT, source, symlinks=True,
                    ignore=lambda folder, names: [n for n in names if Path(folder) == ROOT and
                                                  (n.startswith("build") or n == ".git")])
    site, work = tmp_path / "served-elsewhere", tmp_path / "cmake"
    env = dict(os.environ, NODE_PATH="/usr/share/nodejs")
    subprocess.run(["emcmake", "cmake", "-S", source, "-B", work, "-DCMAKE_BUILD_TYPE=Release",
                    f"-DVELLAMOR_WEB_OUTPUT={site}"], env=env, check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", work, f"-j{os.cpu_count()}"], env=env, check=True,
                   stdout=subprocess.DEVNULL)

    names = page_files(web_build)
    assert page_files(site) == names
    _, differ, errors = filecmp.cmpfiles(web_build, site, names, shallow=False)
    assert (differ, errors) == ([], []), \
        f"{differ} differ from {web_build}: is it built from this source (scripts/build-web)?"

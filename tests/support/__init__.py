"""What the tests and the benchmarks that run the real show share.

- `ctest_env`: the paths CTest sets in a test's environment;
- `processes`: children that end with the process that started them, and are ended on every way out;
- `xserver`: a real X server (Xvfb) on a free display;
- `showrun`: running the show: its environment (display, SDL's drivers, preload libraries, the
  clock sped up by faketime) and its process.

The tests import it as `support` (tests/pytest.ini puts tests/ on the path); the benchmarks put
tests/ on the path themselves.
"""

// The capture program's entry, shared by the builds of the show: each build passes its own
// constants (name and frame size).
#pragma once

namespace capture {

struct ShowBuild {
    const char *name; // the show program's name, e.g. "vellamor"
    int width;
    int height;
};

int capture_main(int argc, char **argv, const ShowBuild &build);

} // namespace capture

// The fixture of the overlay tests: the GL test harness's context at the build's size with
// start-up's render state, and a camera-like projection and view, as the overlays find them in a
// frame. Helpers to load a logo from bytes through the real alusta_texturet.
#pragma once
#include <GL/glu.h>

#include "draw/draw.h"
#include "gl_harness/context.h"
#include "gl_harness/feedback.h"
#include "gl_harness/pictures.h"
#include "gl_harness/scratch.h"
#include "images.h"
#include "runtime/runtime.h"

namespace vt {

class OverlayTest : public GlTest {
  protected:
    OverlayTest() : GlTest(LEVEYS, KORKEUS) {}
    void SetUp() override {
        GlTest::SetUp();
        if (HasFatalFailure())
            return;
        startup_render_state();
        camera_like_view();
    }

    // A perspective and fog as kamera sets them and a camera view (a gluLookAt away from the
    // identity), so that an overlay that forgets to restore the modelview matrix is seen.
    static void camera_like_view() {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(45.0, static_cast<double>(LEVEYS) / KORKEUS, 0.1, 100.0);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        gluLookAt(2.0, 2.0, 1.0, 0.0, 2.2, 0.0, 0.0, 1.0, 0.0);
        // kamera's fog for the frame: the overlays lie nearer than where it starts.
        glFogf(GL_FOG_DENSITY, 0.35f);
        glHint(GL_FOG_HINT, GL_NICEST);
        glFogf(GL_FOG_START, 1.0f);
        glFogf(GL_FOG_END, 60.0f);
    }
};

// Puts `bytes` at data/logo3.png in a scratch working directory and runs the real alusta_texturet
// there; returns what it printed on standard output.
inline std::string load_logo(const Bytes &bytes) {
    ScratchDir dir;
    dir.write("data/logo3.png", bytes);
    return capture_stdout(alusta_texturet);
}
// The same with no data/logo3.png at all.
inline std::string load_missing_logo() {
    ScratchDir dir;
    return capture_stdout(alusta_texturet);
}

} // namespace vt

// Start-up, event pump and exit handler. Owns the exit code `virhe`, which the exit handler
// interprets on every way out, and the double-buffer flag read back from the GL context.
#include "runtime/runtime.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <GL/gl.h>
#include <GL/glu.h>
#include <SDL.h>

#include "build_constants.h"
#include "draw/draw.h"

int32_t virhe = 0;
int32_t kaksoispuskurointi = 0;

namespace {

// The start-up fog mode is picked from this table by a selector that is fixed at 2.
const GLint sumutyypit[3] = {GL_EXP, GL_EXP2, GL_LINEAR};
const int sumutyyppi = 2;

const GLfloat valo_ambient[4] = {0.3f, 0.3f, 0.3f, 1.0f};
const GLfloat valo_diffuse[4] = {1.0f, 1.0f, 1.0f, 1.0f};
const GLfloat valo_paikka[4] = {5.0f, 5.0f, 20.0f, 1.0f};
const GLfloat sumun_vari[4] = {0.2f, 0.1f, 0.05f, 1.0f};

// Video drivers that cannot show the show's OpenGL window: SDL 2 falls back to the first three,
// which show nothing, when it finds no display; the classic library falls back to the last two,
// which draw text on the terminal and have no OpenGL.
const char *const NAKYMATTOMAT_AJURIT[] = {"offscreen", "dummy", "evdev", "caca", "aalib"};

// Ends start-up with a message and an exit code; the exit handler does the rest.
[[noreturn]] void kaatuu(const char *mika, int32_t koodi) {
    printf("Virhe: %s: %s\n", mika, SDL_GetError());
    fflush(stdout);
    virhe = koodi;
    exit(koodi);
}

// A full-screen show that no one can see has not set its video mode, nor has one that the driver
// cannot draw with OpenGL. False, with SDL's error set, for those drivers.
bool nakyva_ajuri() {
    char ajuri[32] = "";
    if (!SDL_VideoDriverName(ajuri, sizeof ajuri))
        return true;
    for (const char *nakymaton : NAKYMATTOMAT_AJURIT)
        if (strcmp(ajuri, nakymaton) == 0) {
            SDL_SetError("No display: video driver %s cannot show a window", ajuri);
            return false;
        }
    return true;
}

} // namespace

void aseta_piirtotila() {
    // A floating-point quotient, not an integer division, kept in single precision.
    const float kuvasuhde = static_cast<float>(static_cast<double>(LEVEYS) / KORKEUS);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, kuvasuhde, 0.1f, 100.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    glShadeModel(GL_SMOOTH);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);

    glEnable(GL_COLOR_MATERIAL);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);

    // Given while the modelview matrix is the identity: the light is fixed to the eye.
    glLightfv(GL_LIGHT1, GL_AMBIENT, valo_ambient);
    glLightfv(GL_LIGHT1, GL_DIFFUSE, valo_diffuse);
    glLightfv(GL_LIGHT1, GL_POSITION, valo_paikka);
    glEnable(GL_LIGHT1);
    glEnable(GL_LIGHTING);
    glLightModelf(GL_LIGHT_MODEL_TWO_SIDE, 1.0f);

    glClearColor(0.2f, 0.1f, 0.05f, 1.0f);

    glFogi(GL_FOG_MODE, sumutyypit[sumutyyppi]);
    glFogfv(GL_FOG_COLOR, sumun_vari);
    glEnable(GL_FOG);

    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

void alusta() {
    alusta_jarjestelma();

    // No parachute: SDL's handler of crash signals shuts SDL down from inside the signal, which
    // can deadlock in the GL driver and leave a frozen full-screen window; without it the signal
    // ends the process at once. SIGINT and SIGTERM still come as quit requests.
    const Uint32 osat = SDL_INIT_TIMER | SDL_INIT_AUDIO | SDL_INIT_VIDEO | SDL_INIT_NOPARACHUTE;
    if (SDL_Init(osat) != 0) {
        // SDL 1.2 over SDL 2 fails as a whole when only its audio fails; the show then goes on
        // silently, as it does when the mixer finds no device. That library also counts the parts
        // of a failed call as started, so that a second call would start none: stop them first.
        char syy[256];
        snprintf(syy, sizeof syy, "%s", SDL_GetError());
        SDL_QuitSubSystem(osat);
        if (SDL_Init(osat & ~SDL_INIT_AUDIO) != 0)
            kaatuu("SDL_Init", 1);
        printf("SDL_Init: %s\n", syy);
        fflush(stdout);
    }

    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, VARIN_BITIT);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, VARIN_BITIT);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, VARIN_BITIT);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, SYVYYS);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);

    if (!nakyva_ajuri()) {
        // A text-mode driver holds the terminal and clears it when it lets go: it lets go before
        // the message is printed, so that the message stays on the screen.
        char syy[256];
        snprintf(syy, sizeof syy, "%s", SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        SDL_SetError("%s", syy);
        kaatuu("SDL_SetVideoMode", 2);
    }
    // The lowest bit of KOKORUUTU lands in bit 31, SDL_FULLSCREEN.
    const Uint32 liput = SDL_OPENGL | (static_cast<Uint32>(KOKORUUTU & 1) << 31);
    if (!SDL_SetVideoMode(LEVEYS, KORKEUS, 0, liput))
        kaatuu("SDL_SetVideoMode", 2);

    int tupla = 0;
    SDL_GL_GetAttribute(SDL_GL_DOUBLEBUFFER, &tupla);
    kaksoispuskurointi = tupla;

    aseta_piirtotila();
    alusta_texturet();

    if (hoida_viestit() != 0) {
        virhe = 0;
        exit(0);
    }

    laske_kulunut_aika();

    if (PIILOTA_OSOITIN)
        SDL_ShowCursor(SDL_DISABLE);
}

int32_t hoida_viestit() {
    SDL_Event tapahtuma;
    while (SDL_PollEvent(&tapahtuma)) {
        if (tapahtuma.type == SDL_QUIT)
            return -1;
        if (tapahtuma.type == SDL_KEYDOWN && tapahtuma.key.keysym.sym == SDLK_ESCAPE)
            return -1;
    }
    return 0;
}

void lopetusfunktio() {
    switch (virhe) {
    case 0:
    case 2:
        SDL_Quit();
        break;
    case 1:
        break; // SDL never came up
    default:
        printf("Virhekoodi väärin %d\n", virhe);
        fflush(stdout);
        break;
    }
}

void setWindow(const char *title) {
    SDL_WM_SetCaption(title, nullptr);
}

char *LoadShaderSource(const char *path) {
    FILE *tiedosto = fopen(path, "rb");
    if (!tiedosto)
        return nullptr;
    char *puskuri = nullptr;
    long pituus = -1;
    if (fseek(tiedosto, 0, SEEK_END) == 0)
        pituus = ftell(tiedosto);
    if (pituus >= 0 && fseek(tiedosto, 0, SEEK_SET) == 0) {
        puskuri = static_cast<char *>(malloc(static_cast<size_t>(pituus) + 1));
        if (puskuri && fread(puskuri, 1, static_cast<size_t>(pituus), tiedosto) !=
                           static_cast<size_t>(pituus)) {
            free(puskuri);
            puskuri = nullptr;
        }
        if (puskuri)
            puskuri[pituus] = '\0';
    }
    fclose(tiedosto);
    return puskuri;
}

// Screen-space overlays drawn last in a frame: the logo and the black fades, in eye space
// under the camera's projection; and the loading of the logo into its texture at start-up.
#include <algorithm>
#include <cstdio>

#include <GL/gl.h>
#include <GL/glu.h>
#include <SDL_image.h>

#include "draw/draw.h"
#include "runtime/runtime.h"

namespace {

const char *const LOGO = "data/logo3.png";

// Memory order R, G, B, A whatever the machine's byte order.
#if SDL_BYTEORDER == SDL_BIG_ENDIAN
const Uint32 R_MASK = 0xff000000, G_MASK = 0x00ff0000, B_MASK = 0x0000ff00, A_MASK = 0x000000ff;
#else
const Uint32 R_MASK = 0x000000ff, G_MASK = 0x0000ff00, B_MASK = 0x00ff0000, A_MASK = 0xff000000;
#endif

SDL_Surface *ei_logoa(const char *syy) {
    printf("Virhe: IMG_Load: %s\n", syy);
    fflush(stdout);
    return nullptr;
}

Uint32 iso_endian_32(const Uint8 *p) {
    return (Uint32(p[0]) << 24) | (Uint32(p[1]) << 16) | (Uint32(p[2]) << 8) | Uint32(p[3]);
}

// The fade fraction: a signed difference of the two times, in double, clamped to 0..1.
double osuus(uint32_t start, int32_t duration) {
    const int32_t kulunut = static_cast<int32_t>(aika - start);
    return std::clamp(static_cast<double>(kulunut) / duration, 0.0, 1.0);
}

// Steps shared by the logo overlays after their colour is set.
void logo_quad() {
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, logo_texture);
    glPushMatrix();
    glLoadIdentity();
    glDisable(GL_LIGHTING);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    glDisable(GL_COLOR_MATERIAL);
    glTranslatef(-0.225f, 0.04f, -0.3f);
    glRotatef(180.0f, 0.0f, 1.0f, 0.0f);
    glScalef(0.23f, 0.2f, 0.2f);
    if (logo_texture != 0) { // without a logo the state changes stay, the quad does not
        glBegin(GL_QUADS);
        glTexCoord2f(0.0f, 0.0f);
        glVertex3f(0.0f, 1.0f, 0.0f);
        glTexCoord2f(0.0f, 1.0f);
        glVertex3f(0.0f, -1.0f, 0.0f);
        glTexCoord2f(1.0f, 1.0f);
        glVertex3f(-2.0f, -1.0f, 0.0f);
        glTexCoord2f(1.0f, 0.0f);
        glVertex3f(-2.0f, 1.0f, 0.0f);
        glEnd();
    }
    glEnable(GL_LIGHTING);
    glEnable(GL_COLOR_MATERIAL);
    glPopMatrix();
    glDisable(GL_TEXTURE_2D);
    glColor4f(1.0f, 0.0f, 0.0f, 1.0f);
    glDisable(GL_BLEND);
}

void musta(float alpha) {
    glEnable(GL_BLEND);
    glPushMatrix();
    glLoadIdentity();
    glDisable(GL_LIGHTING);
    glColor4f(0.0f, 0.0f, 0.0f, alpha);
    glTranslatef(0.0f, 0.0f, -0.15f);
    drawBox(-1.0f, -1.0f, 2.0f, 2.0f);
    glEnable(GL_LIGHTING);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glPopMatrix();
    glDisable(GL_BLEND);
}

} // namespace

uint32_t logo_texture = 0;

SDL_Surface *lue_logo(SDL_RWops *rw) {
    if (!rw)
        return ei_logoa(SDL_GetError());

    // Refuse a huge image from its header alone: a few kilobytes of PNG can otherwise ask
    // the decoder for gigabytes.
    Uint8 otsake[24];
    const int luettu = SDL_RWread(rw, otsake, 1, sizeof otsake);
    SDL_RWseek(rw, 0, RW_SEEK_SET);
    static const Uint8 PNG_TUNNISTE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (luettu != static_cast<int>(sizeof otsake) ||
        !std::equal(PNG_TUNNISTE, PNG_TUNNISTE + 8, otsake) ||
        !std::equal(otsake + 12, otsake + 16, reinterpret_cast<const Uint8 *>("IHDR"))) {
        SDL_RWclose(rw);
        return ei_logoa("not a PNG image");
    }
    const Uint32 leveys = iso_endian_32(otsake + 16);
    const Uint32 korkeus = iso_endian_32(otsake + 20);
    if (leveys == 0 || korkeus == 0 || leveys > LOGO_MAX_SIDE || korkeus > LOGO_MAX_SIDE) {
        SDL_RWclose(rw);
        char syy[96];
        snprintf(syy, sizeof syy, "PNG image of %u x %u pixels, more than %d on a side",
                 static_cast<unsigned>(leveys), static_cast<unsigned>(korkeus), LOGO_MAX_SIDE);
        return ei_logoa(syy);
    }

    SDL_Surface *kuva = IMG_LoadPNG_RW(rw);
    SDL_RWclose(rw);
    if (!kuva)
        return ei_logoa(SDL_GetError());

    // Whatever the PNG held (palette, grey, RGB, 16 bits), hand GL packed R, G, B, A bytes.
    SDL_PixelFormat rgba = {};
    rgba.BitsPerPixel = 32;
    rgba.BytesPerPixel = 4;
    rgba.Rmask = R_MASK;
    rgba.Gmask = G_MASK;
    rgba.Bmask = B_MASK;
    rgba.Amask = A_MASK;
    rgba.Rshift = static_cast<Uint8>(__builtin_ctz(R_MASK));
    rgba.Gshift = static_cast<Uint8>(__builtin_ctz(G_MASK));
    rgba.Bshift = static_cast<Uint8>(__builtin_ctz(B_MASK));
    rgba.Ashift = static_cast<Uint8>(__builtin_ctz(A_MASK));
    rgba.alpha = 255;
    SDL_Surface *muunnettu = SDL_ConvertSurface(kuva, &rgba, SDL_SWSURFACE);
    SDL_FreeSurface(kuva);
    if (!muunnettu)
        return ei_logoa(SDL_GetError());
    return muunnettu;
}

void alusta_texturet() {
    SDL_Surface *kuva = lue_logo(SDL_RWFromFile(LOGO, "rb"));
    if (!kuva)
        return; // the show goes on without a logo
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glGenTextures(1, &logo_texture);
    glBindTexture(GL_TEXTURE_2D, logo_texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    // The image's own size and row length, so nothing is read past its pixels.
    glPixelStorei(GL_UNPACK_ROW_LENGTH, kuva->pitch / 4);
    gluBuild2DMipmaps(GL_TEXTURE_2D, 3, kuva->w, kuva->h, GL_RGBA, GL_UNSIGNED_BYTE, kuva->pixels);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    SDL_FreeSurface(kuva);
}

void logo_fade_out(uint32_t start, int32_t duration) {
    if (aika < start)
        glColor4f(1.0f, 1.0f, 1.0f, 0.0f);
    else
        glColor4f(1.0f, 0.0f, 0.0f, static_cast<float>(osuus(start, duration)));
    logo_quad();
}

void drawLogo() {
    glColor4f(1.0f, 1.0f, 1.0f, 0.5f);
    logo_quad();
}

void toinen_fade_in(uint32_t start, int32_t duration) {
    musta(static_cast<float>(1.0 - osuus(start, duration)));
}

void toinen_fade_out(uint32_t start, int32_t duration) {
    musta(aika < start ? 0.0f : static_cast<float>(osuus(start, duration)));
}

void drawQuad(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4) {
    glBegin(GL_QUADS);
    glVertex2f(x1, y1);
    glVertex2f(x2, y2);
    glVertex2f(x3, y3);
    glVertex2f(x4, y4);
    glEnd();
}

void drawBox(float x, float y, float w, float h) {
    const float oikea = x + w;
    const float yla = y + h;
    drawQuad(x, y, oikea, y, oikea, yla, x, yla);
}

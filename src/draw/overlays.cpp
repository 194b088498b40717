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

void alusta_texturet() {
    SDL_Surface *kuva = lue_logo(kelpaa_luettavaksi(LOGO) ? SDL_RWFromFile(LOGO, "rb") : nullptr);
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

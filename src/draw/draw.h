// The drawing kit: immediate-mode box meshes and the screen-space overlays with the logo.
#pragma once
#include <cstdint>

#include <SDL.h>

void cube();
void cube2(float s);
void colorCube(float s, float r1, float g1, float b1, float r2, float g2, float b2);
void pyramid();
void cubeboom();

extern uint32_t logo_texture; // 0 when no logo could be loaded

void alusta_texturet();
void logo_fade_out(uint32_t start, int32_t duration);
void drawLogo();
void toinen_fade_in(uint32_t start, int32_t duration);
void toinen_fade_out(uint32_t start, int32_t duration);
void drawQuad(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4);
void drawBox(float x, float y, float w, float h);

// The logo loader: reads a PNG from `rw` (closing it), refuses an image wider or taller than
// LOGO_MAX_SIDE before decoding it, and returns a surface whose pixels are tightly packed
// R, G, B, A bytes, or null after printing one "Virhe: IMG_Load: ..." line.
constexpr int LOGO_MAX_SIDE = 4096;
SDL_Surface *lue_logo(SDL_RWops *rw);

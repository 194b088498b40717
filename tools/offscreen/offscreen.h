// A real Mesa OpenGL compatibility context with no X server: EGL on the surfaceless platform,
// drawing into a framebuffer object with an RGBA8 colour buffer and a depth buffer.
// Used by the GL tests and by the capture program.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Makes the context current with a width x height framebuffer bound for drawing and reading,
// and the viewport set to it. Returns false with a reason in `error` when EGL or GL refuse.
// Only one context exists at a time; opening again closes the previous one.
bool offscreen_open(int width, int height, std::string *error = nullptr);
void offscreen_close();

int offscreen_width();
int offscreen_height();

// The colour buffer as RGBA bytes, bottom row first (as glReadPixels gives it).
std::vector<uint8_t> offscreen_read_rgba();
// Reads into a caller's buffer of width * height * 4 bytes.
void offscreen_read_rgba(uint8_t *dest);

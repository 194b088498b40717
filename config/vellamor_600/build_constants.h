// Build constants of vellamor_600: 1024 x 600, full screen, pointer hidden.
#pragma once
#include <cstdint>

constexpr int32_t VARIN_BITIT = 8; // bits requested for each of red, green and blue
constexpr int32_t SYVYYS = 16;     // depth-buffer bits requested
constexpr int32_t LEVEYS = 1024;   // video mode width
constexpr int32_t KORKEUS = 600;   // video mode height
#ifdef VELLAMOR_WINDOWED
constexpr int32_t KOKORUUTU = 0; // development build: a window
#else
constexpr int32_t KOKORUUTU = 1; // full screen
#endif
constexpr int32_t PIILOTA_OSOITIN = 1; // hide the mouse pointer at the end of start-up

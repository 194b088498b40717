// SDL's error text. The browser's SDL keeps none (its SDL_GetError always says the same), so the
// web platform keeps the last message itself, and the show's messages carry the real reason.
#include <cstdarg>
#include <cstdio>

#include <SDL.h>

namespace {
char message[256] = "";
}

extern "C" {

void SDL_SetError(const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
}

const char *SDL_GetError(void) {
    return message;
}

void SDL_ClearError(void) {
    message[0] = '\0';
}

} // extern "C"

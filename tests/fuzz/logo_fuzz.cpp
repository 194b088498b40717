// libFuzzer target for the logo loader: any bytes as data/logo3.png must give either a packed
// RGBA surface no larger than the limit, or null, and never touch memory out of bounds.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "draw/draw.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // The loader reports each refusal on standard output; keep the fuzzer's output readable.
    if (!freopen("/dev/null", "w", stdout))
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    SDL_Surface *kuva = lue_logo(SDL_RWFromConstMem(data, static_cast<int>(size)));
    if (!kuva)
        return 0;
    if (kuva->w <= 0 || kuva->h <= 0 || kuva->w > LOGO_MAX_SIDE || kuva->h > LOGO_MAX_SIDE ||
        kuva->format->BytesPerPixel != 4 || kuva->pitch != kuva->w * 4)
        abort();
    // Read every byte GL would read, so AddressSanitizer sees any short buffer.
    const uint8_t *p = static_cast<const uint8_t *>(kuva->pixels);
    unsigned summa = 0;
    for (long i = 0, n = static_cast<long>(kuva->pitch) * kuva->h; i < n; ++i)
        summa += p[i];
    SDL_FreeSurface(kuva);
    return static_cast<int>(summa & 0);
}

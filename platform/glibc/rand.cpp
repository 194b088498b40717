// The C library's generator as the show was made with it: the additive feedback generator of
// glibc's random(), 31 words with the taps 3 apart, seeded through the Park-Miller sequence and
// run 310 steps before the first number. The floors' layout depends on every bit of it, and
// the browser's and Windows' C libraries have a different rand().
#include <cstdint>
#include <cstdlib>

namespace {

const int DEGREE = 31;
const int SEPARATION = 3;

int32_t words[DEGREE];
int front = SEPARATION; // the two taps, as indices into the words
int rear = 0;

int32_t next() {
    // Unsigned addition: the sum wraps modulo 2^32, the lowest bit is dropped.
    const uint32_t sum = static_cast<uint32_t>(words[front]) + static_cast<uint32_t>(words[rear]);
    words[front] = static_cast<int32_t>(sum);
    front = (front + 1) % DEGREE;
    rear = (rear + 1) % DEGREE;
    return static_cast<int32_t>(sum >> 1);
}

bool seeded = false;

} // namespace

extern "C" {

void srand(unsigned seed) {
    if (seed == 0)
        seed = 1;
    words[0] = static_cast<int32_t>(seed);
    int32_t word = static_cast<int32_t>(seed);
    for (int i = 1; i < DEGREE; ++i) {
        // 16807 * word mod (2^31 - 1), by Schrage's method so that nothing overflows.
        const int32_t hi = word / 127773;
        const int32_t lo = word % 127773;
        word = 16807 * lo - 2836 * hi;
        if (word < 0)
            word += 2147483647;
        words[i] = word;
    }
    front = SEPARATION;
    rear = 0;
    for (int i = 0; i < 10 * DEGREE; ++i)
        next();
    seeded = true;
}

int rand(void) {
    if (!seeded)
        srand(1); // as if seeded with 1, like the C library
    return next();
}

} // extern "C"

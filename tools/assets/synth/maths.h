// The synthesizer's own elementary functions: exp, log, log10, pow, sin, cos, tan and tanh.
//
// The song is rendered by the native tool and, compiled to WebAssembly, in the browser; the C
// libraries of the two differ in the last bit of some results, and those bits reach the samples
// through filters and oscillators. These are written with + - * /, floor and bit operations
// only, all of which IEEE 754 rounds the same everywhere (built without contraction into fused
// multiply-adds), so every build computes the same bits. They keep their intermediate results in
// two doubles where it matters, and are within about half an ulp of the true value over the
// ranges the synthesizer uses.
#pragma once

namespace synth::maths {

double exp(double x);
// Natural logarithm; NaN below 0, -infinity at 0.
double log(double x);
double log10(double x);
// x to the power y, for x > 0 (NaN for other bases unless y is 0).
double pow(double x, double y);
// Exact argument reduction for |x| < 2^20 pi/2 (the synthesizer's are a few radians); beyond
// that the result is still the same everywhere but less accurate.
double sin(double x);
double cos(double x);
double tan(double x);
double tanh(double x);

} // namespace synth::maths

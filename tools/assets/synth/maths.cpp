// The synthesizer's elementary functions, from + - * /, floor and bit operations.
//
// Exact pieces are spelt out: two-term sums and products (Knuth, Dekker with Veltkamp's split,
// no fused multiply-add), constants split so that a multiple of their high part is exact, and
// series kept to where the next term is below 2^-60 of the result.
#include "maths.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace synth::maths {

namespace {

// ln 2 and pi/2 in parts: the high parts have 32 and 33 significant bits, so that k times them
// is exact for the multiples used here.
constexpr double kLn2Hi = 0x1.62e42feep-1, kLn2Lo = 0x1.a39ef35793c76p-33;
constexpr double kInvLn2 = 0x1.71547652b82fep+0;
constexpr double kPio2A = 0x1.921fb544p+0, kPio2B = 0x1.0b4611a6p-34,
                 kPio2C = 0x1.3198a2e037073p-69;
constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
constexpr double kInvLn10Hi = 0x1.bcb7b1526e50ep-2, kInvLn10Lo = 0x1.95355baaafad3p-57;
constexpr double kSqrt2 = 0x1.6a09e667f3bcdp+0;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// 1/n!, rounded once (n! itself is exact in a double up to 22!).
constexpr double invFactorial(int n) {
    double f = 1;
    for (int i = 2; i <= n; ++i)
        f *= i;
    return 1.0 / f;
}

// A double-double: hi + lo, |lo| at most half an ulp of hi.
struct Dd {
    double hi, lo;
};

Dd twoSum(double a, double b) {
    const double s = a + b, bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}
Dd fastTwoSum(double a, double b) { // |a| >= |b|
    const double s = a + b;
    return {s, b - (s - a)};
}
void split(double a, double &hi, double &lo) {
    const double c = 134217729.0 * a; // 2^27 + 1
    hi = c - (c - a);
    lo = a - hi;
}
Dd twoProd(double a, double b) {
    double ah, al, bh, bl;
    split(a, ah, al);
    split(b, bh, bl);
    const double p = a * b;
    return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}
// (a.hi + a.lo) / (b.hi + b.lo), to about an ulp of the double result's half.
double divide(Dd a, Dd b) {
    const double q = a.hi / b.hi;
    const Dd p = twoProd(q, b.hi);
    const double rem = (((a.hi - p.hi) - p.lo) + a.lo) - q * b.lo;
    return q + rem / b.hi;
}

uint64_t bitsOf(double x) {
    uint64_t u;
    std::memcpy(&u, &x, sizeof u);
    return u;
}
double fromBits(uint64_t u) {
    double x;
    std::memcpy(&x, &u, sizeof x);
    return x;
}
// 2^k for -1022 <= k <= 1023.
double twoTo(int k) {
    return fromBits(static_cast<uint64_t>(k + 1023) << 52);
}
// y 2^k for any k, in at most two exact steps (one rounding where the result is subnormal).
double scale(double y, int k) {
    if (k > 1023)
        return y * twoTo(1023) * twoTo(k - 1023);
    if (k < -1022)
        return y * twoTo(-1022) * twoTo(k + 1022);
    return y * twoTo(k);
}

// exp(r) - 1 - r - r^2/2 for |r| <= ln2/2 + a little: r^3 (1/3! + r/4! + ... + r^11/14!).
double expCubic(double r) {
    double p = invFactorial(14);
    for (int n = 13; n >= 3; --n)
        p = p * r + invFactorial(n);
    return r * r * r * p;
}

// x + xl = k ln2 + (hi - lo), |hi - lo| <= ln2/2 + a little; hi is exact.
int reduceLn2(double x, double xl, double &hi, double &lo) {
    const double kd = std::floor(x * kInvLn2 + 0.5);
    hi = x - kd * kLn2Hi;
    lo = kd * kLn2Lo - xl;
    return static_cast<int>(kd);
}

// exp(hi - lo) for |hi - lo| <= ln2/2 + a little, |lo| small: 1 + hi + hi^2/2 in two doubles, then
// the small rest (-lo - hi lo + lo^2/2 + the cubic), so that the result is rounded about once.
double expReduced(double hi, double lo) {
    const Dd one = fastTwoSum(1.0, hi);
    const Dd sq = twoProd(hi, hi);
    const Dd s = twoSum(one.hi, 0.5 * sq.hi);
    return s.hi +
           (s.lo + ((one.lo + 0.5 * sq.lo) - (lo + lo * (hi - 0.5 * lo)) + expCubic(hi - lo)));
}

// exp(x + xl) for a small correction xl.
double expDd(double x, double xl) {
    if (x != x)
        return x;
    if (x > 709.8)
        return kInf;
    if (x < -745.2)
        return 0.0;
    double hi, lo;
    const int k = reduceLn2(x, xl, hi, lo);
    return scale(expReduced(hi, lo), k);
}

// expm1(x) for 0 <= x <= 44, as a double-double.
Dd expm1Dd(double x) {
    double hi, lo;
    const int k = reduceLn2(x, 0.0, hi, lo);
    const double r = hi - lo;
    const Dd em = twoSum(hi, (0.5 * r * r + expCubic(r)) - lo); // exp(r) - 1
    if (k == 0)
        return em;
    const double big = twoTo(k) - 1.0; // exact for k <= 53
    const Dd s = twoSum(big, twoTo(k) * em.hi);
    return fastTwoSum(s.hi, s.lo + twoTo(k) * em.lo);
}

// log(x) for finite x > 0, as a double-double: x = 2^k m with m in [sqrt2/2, sqrt2], and
// log m = 2 atanh(t), t = (m - 1)/(m + 1), |t| <= 0.1716.
Dd logDd(double x) {
    int k = 0;
    if (x < 0x1p-1022) { // subnormal: make it normal first
        x *= 0x1p54;
        k = -54;
    }
    const uint64_t u = bitsOf(x);
    k += static_cast<int>(u >> 52) - 1023;
    double m = fromBits((u & 0x000FFFFFFFFFFFFFull) | 0x3FF0000000000000ull);
    if (m > kSqrt2) {
        m *= 0.5;
        ++k;
    }
    const double f = m - 1.0; // exact
    const Dd d = twoSum(m, 1.0);
    const double th = f / d.hi;
    const Dd p = twoProd(th, d.hi);
    const double tl = (((f - p.hi) - p.lo) - th * d.lo) / d.hi;
    // 2 atanh t = 2t + 2t^3 (1/3 + t^2/5 + ... + t^22/25)
    const double t2 = th * th;
    double s = 1.0 / 25;
    for (int n = 23; n >= 3; n -= 2)
        s = s * t2 + 1.0 / n;
    const double tail = 2.0 * th * t2 * s;
    const double kd = k;
    const Dd a = twoSum(kd * kLn2Hi, 2.0 * th);
    return fastTwoSum(a.hi, a.lo + (2.0 * tl + tail + kd * kLn2Lo));
}

// x = n pi/2 + (y.hi + y.lo), |y| <= pi/4 + a little; returns n mod 4.
int reducePio2(double x, Dd &y) {
    if (std::fabs(x) <= 0x1.921fb54442d18p-1) {
        y = {x, 0.0};
        return 0;
    }
    const double kd = std::floor(x * kTwoOverPi + 0.5);
    const double r = x - kd * kPio2A; // exact
    const Dd a = twoSum(r, -kd * kPio2B);
    y = fastTwoSum(a.hi, a.lo - kd * kPio2C);
    return static_cast<int>(kd - 4.0 * std::floor(kd * 0.25));
}

// sin(y) for |y| <= pi/4: y + y^3 (-1/3! + y^2/5! - ... - y^18/19!) + lo cos y.
Dd sinKernel(Dd y) {
    const double z = y.hi * y.hi;
    double s = -invFactorial(19);
    for (int n = 17; n >= 3; n -= 2)
        s = s * z + ((n & 2) ? -invFactorial(n) : invFactorial(n));
    return fastTwoSum(y.hi, z * y.hi * s + y.lo * (1.0 - 0.5 * z));
}

// cos(y) for |y| <= pi/4: 1 - y^2/2 + y^4 (1/4! - y^2/6! + ... + y^16/20!) - lo sin y, the
// square and the first subtraction exact.
Dd cosKernel(Dd y) {
    const Dd z = twoProd(y.hi, y.hi);
    const Dd w = fastTwoSum(1.0, -0.5 * z.hi);
    double c = invFactorial(20);
    for (int n = 18; n >= 4; n -= 2)
        c = c * z.hi + ((n & 2) ? -invFactorial(n) : invFactorial(n));
    return fastTwoSum(w.hi, (w.lo - 0.5 * z.lo) + (z.hi * z.hi * c - y.lo * y.hi));
}

Dd negate(Dd a) {
    return {-a.hi, -a.lo};
}

// sin(y + n pi/2).
double sinQuadrant(Dd y, int n) {
    switch (n & 3) {
    case 0:
        return sinKernel(y).hi;
    case 1:
        return cosKernel(y).hi;
    case 2:
        return -sinKernel(y).hi;
    default:
        return -cosKernel(y).hi;
    }
}

} // namespace

double exp(double x) {
    return expDd(x, 0.0);
}

namespace {

// The logarithms' results where x is not finite and positive: true with it in `out`.
bool logOutside(double x, double &out) {
    if (x != x || x == kInf)
        out = x;
    else if (x < 0)
        out = kNaN;
    else if (x == 0)
        out = -kInf;
    else
        return false;
    return true;
}

} // namespace

double log(double x) {
    double out;
    return logOutside(x, out) ? out : logDd(x).hi;
}

double log10(double x) {
    double out;
    if (logOutside(x, out))
        return out;
    const Dd l = logDd(x);
    const Dd p = twoProd(l.hi, kInvLn10Hi);
    return p.hi + (p.lo + (l.hi * kInvLn10Lo + l.lo * kInvLn10Hi));
}

double pow(double x, double y) {
    if (y == 0 || x == 1)
        return 1.0;
    if (x != x || y != y || x < 0)
        return kNaN;
    if (x == 0 || x == kInf)
        return (x == 0) == (y > 0) ? 0.0 : kInf;
    const Dd l = logDd(x);
    const Dd z = twoProd(y, l.hi);
    const Dd e = fastTwoSum(z.hi, z.lo + y * l.lo);
    return expDd(e.hi, e.lo);
}

double sin(double x) {
    Dd y;
    const int n = reducePio2(x, y);
    return sinQuadrant(y, n);
}

// cos x = sin(x + pi/2): one quadrant on.
double cos(double x) {
    Dd y;
    const int n = reducePio2(x, y);
    return sinQuadrant(y, n + 1);
}

double tan(double x) {
    Dd y;
    const int n = reducePio2(x, y);
    const Dd s = sinKernel(y), c = cosKernel(y);
    return (n & 1) ? divide(negate(c), s) : divide(s, c);
}

// tanh |x| = expm1(2|x|) / (expm1(2|x|) + 2), sign restored.
double tanh(double x) {
    const double a = std::fabs(x);
    if (a != a)
        return x;
    double t;
    if (a > 22)
        t = 1.0;
    else if (a < 0x1p-28)
        t = a;
    else {
        const Dd u = expm1Dd(2.0 * a);
        const Dd d = twoSum(u.hi, 2.0);
        t = divide(u, {d.hi, d.lo + u.lo});
    }
    return x < 0 ? -t : t;
}

} // namespace synth::maths

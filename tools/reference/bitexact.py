"""The pricing mathematics of karvex in plain Python, operation for operation.

An independent second writing of every formula of the core, made for one
purpose: to produce the golden table of exact output bits that every path of
the C++ core (scalar, vector units, worker pool, Python entry points) must
reproduce (gen_golden.py writes it). It is written from the formulas, not from
the C++, so a reassociation or a changed constant in the C++ shows up as a
difference against it.

Python floats are IEEE doubles and every operation below is rounded on its
own, as in the C++ (compiled without contraction). The rules kept throughout:

- `math.exp`, `math.log` and `math.cbrt` are the C library's functions, the
  ones the C++ calls; they are wrapped only to return what C returns where
  Python raises (overflow, log of 0 or of a negative number).
- Division goes through `div`, which returns IEEE's +-inf or NaN where Python
  raises ZeroDivisionError.
- Powers are products written out (`x * x`, never `x**2`); a fused
  multiply-add is `fma`, exact through rational arithmetic.
- Every comparison is written as in the formula, so a NaN operand makes it
  false and falls through as in C. `maxnum` is IEEE 754 maxNum (a NaN operand
  is ignored), `max0` is maxNum(v, +0.0).
- The error functions and the exponential inside the erfc tail are fdlibm's
  (s_erf.c, e_exp.c), written out here; Python's `math.erf`/`math.erfc` are
  not those functions.

Each branch of each piece calls `hit(name)`, so that the generator can show
that its inputs reach every branch (`HITS` counts them).
"""

import math
import struct
from collections import Counter
from fractions import Fraction

INF = math.inf
NAN = math.nan
DBL_MAX = 1.7976931348623157e308  # 0x7fefffffffffffff
DBL_MIN = 2.2250738585072014e-308  # 0x0010000000000000

HITS = Counter()


def hit(name):
    HITS[name] += 1


# ---------------------------------------------------------------- IEEE helpers


def to_bits(x):
    return struct.unpack("<Q", struct.pack("<d", x))[0]


def from_bits(u):
    return struct.unpack("<d", struct.pack("<Q", u))[0]


def high_word(x):
    return to_bits(x) >> 32


def low_word_cleared(x):
    return from_bits(to_bits(x) & 0xFFFFFFFF00000000)


def isfinite(x):
    return math.isfinite(x)


def div(a, b):
    """a / b under IEEE rules: a nonzero number over +-0 is +-inf, 0/0 and NaN/0 are NaN."""
    try:
        return a / b
    except ZeroDivisionError:
        if a != a or a == 0.0:
            return NAN
        return math.copysign(INF, a) * math.copysign(1.0, b)


def maxnum(a, b):
    """IEEE 754 maxNum: a NaN operand is ignored."""
    if a != a:
        return b
    if b != b:
        return a
    return a if a > b else b


def max0(v):
    """maxNum(v, +0.0): a NaN or -0.0 gives +0.0."""
    return v if v > 0.0 else 0.0


def fma(a, b, c):
    """a*b + c rounded once."""
    if not (isfinite(a) and isfinite(b) and isfinite(c)):
        return a * b + c  # an infinity or NaN decides, as in the exact operation
    exact = Fraction(a) * Fraction(b) + Fraction(c)
    if exact == 0:
        # An exact zero: -0 only when both the product and c are -0 (round to nearest).
        product_negative = (math.copysign(1.0, a) * math.copysign(1.0, b)) < 0
        if a * b == 0.0 and c == 0.0 and product_negative and math.copysign(1.0, c) < 0:
            return -0.0
        return 0.0
    try:
        return float(exact)  # correctly rounded, subnormals included
    except OverflowError:
        return math.copysign(INF, exact)


def exp(x):
    """The platform's exp; overflow gives +inf as in C."""
    try:
        return math.exp(x)
    except OverflowError:
        return INF


def log(x):
    """The platform's log; log(+-0) = -inf and log(negative) = NaN as in C."""
    if x == 0.0:
        return -INF
    if x < 0.0:
        return NAN
    return math.log(x)


def sqrt(x):
    if x < 0.0:
        return NAN
    return math.sqrt(x)


def cbrt(x):
    return math.cbrt(x)


# ---------------------------------------------------------- fdlibm's exponential

LN2HI = from_bits(0x3FE62E42FEE00000)
LN2LO = from_bits(0x3DEA39EF35793C76)
INVLN2 = from_bits(0x3FF71547652B82FE)
P1 = from_bits(0x3FC555555555553E)
P2 = from_bits(0xBF66C16C16BEBD93)
P3 = from_bits(0x3F11566AAF25DE2C)
P4 = from_bits(0xBEBBBD41C5D26BF1)
P5 = from_bits(0x3E66376972BEA4D0)
O_THRESHOLD = from_bits(0x40862E42FEFA39EF)
U_THRESHOLD = from_bits(0xC0874910D52D3051)
TWOM1000 = from_bits(0x0170000000000000)
HUGE = 1.0e300


def add_to_exponent(y, k):
    """y with k added to its exponent field (the high word's bits 20..30)."""
    return from_bits((to_bits(y) + (k << 52)) & 0xFFFFFFFFFFFFFFFF)


def fdlibm_exp(x):
    hx = high_word(x)
    xsb = hx >> 31
    hx &= 0x7FFFFFFF
    if hx >= 0x40862E42:  # |x| >= 709.78...
        if hx >= 0x7FF00000:
            if x != x:
                hit("fdlibm_exp.nan")
                return x + x
            hit("fdlibm_exp.inf")
            return x if xsb == 0 else 0.0
        if x > O_THRESHOLD:
            hit("fdlibm_exp.overflow")
            return HUGE * HUGE
        if x < U_THRESHOLD:
            hit("fdlibm_exp.underflow")
            return TWOM1000 * TWOM1000
    if hx > 0x3FD62E42:  # |x| > 0.5 ln2
        if hx < 0x3FF0A2B2:  # and |x| < 1.5 ln2
            hit("fdlibm_exp.reduce_one")
            if xsb == 0:
                hi = x - LN2HI
                lo = LN2LO
                k = 1
            else:
                hi = x - (-LN2HI)
                lo = -LN2LO
                k = -1
        else:
            hit("fdlibm_exp.reduce_k")
            k = int(INVLN2 * x + (0.5 if xsb == 0 else -0.5))  # truncation toward zero
            t = float(k)
            hi = x - t * LN2HI
            lo = t * LN2LO
        x = hi - lo
    elif hx < 0x3E300000:  # |x| < 2**-28
        hit("fdlibm_exp.tiny")
        return 1.0 + x
    else:
        hit("fdlibm_exp.primary")
        k = 0
    t = x * x
    c = x - t * (P1 + t * (P2 + t * (P3 + t * (P4 + t * P5))))
    if k == 0:
        return 1.0 - (div(x * c, c - 2.0) - x)
    y = 1.0 - ((lo - div(x * c, 2.0 - c)) - hi)
    if k >= -1021:
        return add_to_exponent(y, k)
    hit("fdlibm_exp.subnormal")
    return add_to_exponent(y, k + 1000) * TWOM1000


# ------------------------------------------------------- fdlibm's erf and erfc

ERX_COMPLEMENT = from_bits(0x3FC3D4FA80000000)  # 1 - erx
EFX8 = from_bits(0x3FF06EBA8214DB69)
PP = [from_bits(u) for u in (0x3FC06EBA8214DB68, 0xBFD4CD7D691CB913, 0xBF9D2A51DBD7194F,
                             0xBF77A291236668E4, 0xBEF8EAD6120016AC)]  # fmt: skip
QQ = [from_bits(u) for u in (0x3FD97779CDDADC09, 0x3FB0A54C5536CEBA, 0x3F74D022C4D36B0F,
                             0x3F215DC9221C1A10, 0xBED09C4342A26120)]  # fmt: skip
PA = [from_bits(u) for u in (0xBF6359B8BEF77538, 0x3FDA8D00AD92B34D, 0xBFD7D240FBB8C3F1,
                             0x3FD45FCA805120E4, 0xBFBC63983D3E28EC, 0x3FA22A36599795EB,
                             0xBF61BF380A96073F)]  # fmt: skip
QA = [from_bits(u) for u in (0x3FBB3E6618EEE323, 0x3FE14AF092EB6F33, 0x3FB2635CD99FE9A7,
                             0x3FC02660E763351F, 0x3F8BEDC26B51DD1C, 0x3F888B545735151D)]  # fmt: skip
RA = [from_bits(u) for u in (0xBF843412600D6435, 0xBFE63416E4BA7360, 0xC0251E0441B0E726,
                             0xC04F300AE4CBA38D, 0xC0644CB184282266, 0xC067135CEBCCABB2,
                             0xC054526557E4D2F2, 0xC023A0EFC69AC25C)]  # fmt: skip
SA = [from_bits(u) for u in (0x4033A6B9BD707687, 0x4061350C526AE721, 0x407B290DD58A1A71,
                             0x40842B1921EC2868, 0x407AD02157700314, 0x405B28A3EE48AE2C,
                             0x401A47EF8E484A93, 0xBFAEEFF2EE749A62)]  # fmt: skip
RB = [from_bits(u) for u in (0xBF84341239E86F4A, 0xBFE993BA70C285DE, 0xC031C209555F995A,
                             0xC064145D43C5ED98, 0xC083EC881375F228, 0xC09004616A2E5992,
                             0xC07E384E9BDC383F)]  # fmt: skip
SB = [from_bits(u) for u in (0x403E568B261D5190, 0x40745CAE221B9F0A, 0x409802EB189D5118,
                             0x40A8FFB7688C246A, 0x40A3F219CEDF3BE6, 0x407DA874E79FE763,
                             0xC03670E242712D62)]  # fmt: skip


def horner(z, coefficients):
    """c0 + z*(c1 + z*(c2 + ...)), innermost first."""
    acc = coefficients[-1]
    for c in reversed(coefficients[:-1]):
        acc = c + z * acc
    return acc


def one_plus_horner(z, coefficients):
    """1 + z*(c1 + z*(c2 + ...)) for the denominators whose constant term is 1."""
    return 1.0 + z * horner(z, coefficients)


def small_ratio(x):
    """y = P(x*x)/Q(x*x) with the pp/qq sets (|x| < 0.84375)."""
    z = x * x
    return div(horner(z, PP), one_plus_horner(z, QQ))


def erfc_tail(ax, ix):
    """r(|x|) for 0.84375 <= |x| < 28; ix is the high word of |x|."""
    if ix < 0x3FF40000:  # |x| < 1.25
        hit("erf_tail.pa")
        u = ax - 1.0
        return ERX_COMPLEMENT - div(horner(u, PA), one_plus_horner(u, QA))
    v = div(1.0, ax * ax)
    if ix < 0x4006DB6D:  # |x| < 1/0.35
        hit("erf_tail.ra")
        big_r = horner(v, RA)
        big_s = one_plus_horner(v, SA)
    else:
        hit("erf_tail.rb")
        big_r = horner(v, RB)
        big_s = one_plus_horner(v, SB)
    w = low_word_cleared(ax)
    r = fdlibm_exp(-(w * w) - 0.5625) * fdlibm_exp((w - ax) * (w + ax) + div(big_r, big_s))
    return div(r, ax)


def erfc(x):
    hx = high_word(x)
    ix = hx & 0x7FFFFFFF
    negative = hx >> 31 == 1
    if ix >= 0x7FF00000:
        hit("erfc.nonfinite")
        return div(1.0, x) + (2.0 if negative else 0.0)
    if ix < 0x3FEB0000:  # |x| < 0.84375
        if ix < 0x3C700000:  # |x| < 2**-56
            hit("erfc.tiny")
            return 1.0 - x
        y = small_ratio(x)
        if negative or hx < 0x3FD00000:  # x < 1/4
            hit("erfc.small_low")
            return 1.0 - (x + x * y)
        hit("erfc.small_high")
        return 0.5 - ((x - 0.5) + x * y)
    if ix < 0x403C0000:  # |x| < 28
        r = erfc_tail(abs(x), ix)
        if negative:
            hit("erfc.tail_negative")
            return 2.0 - r
        hit("erfc.tail_positive")
        return r
    hit("erfc.huge")
    return 2.0 if negative else 0.0


def erf(x):
    hx = high_word(x)
    ix = hx & 0x7FFFFFFF
    negative = hx >> 31 == 1
    if ix >= 0x7FF00000:
        hit("erf.nonfinite")
        return (1.0 - (2.0 if negative else 0.0)) + div(1.0, x)
    if ix < 0x3E300000:  # |x| < 2**-28
        hit("erf.tiny")
        return 0.125 * (8.0 * x + EFX8 * x)
    if ix < 0x3FEB0000:  # |x| < 0.84375
        hit("erf.small")
        return x + x * small_ratio(x)
    if ix < 0x40180000:  # |x| < 6
        hit("erf.tail")
        v = 1.0 - erfc_tail(abs(x), ix)
        return -v if negative else v
    hit("erf.huge")
    return -1.0 if negative else 1.0


# ------------------------------------------------------------ normal functions

INV_SQRT2 = 0.7071067811865476  # 0x3fe6a09e667f3bcd
INV_SQRT_2PI = 0.3989422804014327  # 0x3fd9884533d43651
INV_SQRT_PI = 0.5641895835477563  # 0x3fe20dd750429b6d
LENTZ_TINY = 1e-300
LENTZ_HUGE = 9.999999999999999e299
LENTZ_TOLERANCE = 1e-16


def pdf(z):
    return exp(z * (z * -0.5)) * INV_SQRT_2PI


def erfcx(a):
    if a != a:
        hit("erfcx.nan")
        return a
    if a == INF:
        hit("erfcx.inf")
        return 0.0
    if a == -INF:
        hit("erfcx.minus_inf")
        return INF
    if a < 26.5:
        hit("erfcx.direct")
        return exp(a * a) * erfc(a)
    hit("erfcx.continued_fraction")
    f = a
    big_c = a
    d = 0.0
    for n in range(1, 200):
        c = n / 2.0
        d = fma(c, d, a)
        big_c = a + div(c, big_c)
        if abs(big_c) < LENTZ_TINY:
            big_c = LENTZ_TINY
        d = LENTZ_HUGE if abs(d) < LENTZ_TINY else div(1.0, d)
        delta = big_c * d
        f = f * delta
        if abs(delta - 1.0) < LENTZ_TOLERANCE:
            break
    return div(INV_SQRT_PI, f)


def cdf(z):
    if abs(z) < 4.0:
        if z < 0.0:
            hit("cdf.erfc")
            return 0.5 * erfc(z * -INV_SQRT2)
        hit("cdf.erf")
        return (erf(z * INV_SQRT2) + 1.0) * 0.5
    if z != z:
        hit("cdf.nan")
        return z
    if z == INF:
        hit("cdf.inf")
        return 1.0
    if z == -INF:
        hit("cdf.minus_inf")
        return 0.0
    g = 0.5 * exp(z * (z * -0.5))
    if z < 0.0:
        hit("cdf.tail_negative")
        return g * erfcx(z * -INV_SQRT2)
    hit("cdf.tail_positive")
    return 1.0 - g * erfcx(z * INV_SQRT2)


# ------------------------------------------------------ normalised Black function

ETA = -10.0
TAU = 0.2102528541151713  # 0x3fcae990c6285c66
ETA_PLUS_TAU = -9.789747145884828  # 0xc0239459bce75e8e
REGION3_BOUND = 0.85
SERIES_BOUND = 0.011962890625  # 98 * 2**-13
VEGA_GUARD = 1.4916681462400413e-154  # 2**-511
SQRT_HALF_PI = 1.2533141373155003  # 0x3ff40d931ff62706
FACTORIAL_13 = 6227020800.0
SINH_C = (
    0.041666666666666664,
    0.0005208333333333333,
    3.1001984126984127e-06,
    1.076457782186949e-08,
)


def intrinsic_series(x):
    """x*(1 + x^2*(c1 + x^2*(c2 + x^2*(c3 + x^2*c4)))), each Horner step one fma."""
    x2 = x * x
    p = fma(x2, SINH_C[3], SINH_C[2])
    p = fma(x2, p, SINH_C[1])
    p = fma(x2, p, SINH_C[0])
    p = fma(x2, p, 1.0)
    return x * p


def normalised_intrinsic(x):
    """2*sinh(x/2)."""
    if x * x < SERIES_BOUND:
        hit("intrinsic.series")
        return intrinsic_series(x)
    hit("intrinsic.exp")
    e = exp(x * 0.5)
    return e + (-div(1.0, e))


def binomial(n, m):
    return math.comb(n, m)


def asymptotic_p(k, e):
    """P_k(e) = (-1)^k * 2 * sum_j C(2k+1, 2j+1) e^j by Horner's rule, the leading 2e as e + e."""
    acc = (e + e) + float(2 * binomial(2 * k + 1, 2 * k - 1))
    for j in range(k - 2, -1, -1):
        acc = acc * e + float(2 * binomial(2 * k + 1, 2 * j + 1))
    return -acc if k % 2 == 1 else acc


def region_asymptotic(x, s, t):
    hit("black.region1")
    h = div(x, s)
    e = div(t, h) * div(t, h)
    r = (h + t) * (h - t)
    q = div(h, r) * div(h, r)
    inner = asymptotic_p(16, e) + q * (33.0 * asymptotic_p(17, e))
    for k in range(15, 0, -1):
        inner = asymptotic_p(k, e) + (q * float(2 * k + 1)) * inner
    big_a = 2.0 + q * inner
    nu = exp((h * h + t * t) * -0.5) * INV_SQRT_2PI
    b = (div(t, r) * nu) * big_a
    return b, nu


def region_small_volatility(x, s, t):
    hit("black.region2")
    h = div(x, s)
    a = (h * SQRT_HALF_PI) * erfcx(h * -INV_SQRT2) + 1.0
    w = t * t
    g = h * h
    a105 = 105.0 * a
    a135135 = 135135.0 * a
    t1 = div(g * a + (3.0 * a - 1.0), 6.0)
    t2 = div((15.0 * a - 7.0) + g * (g * a + (10.0 * a - 1.0)), 120.0)
    t3 = div((a105 - 57.0) + g * ((a105 - 18.0) + g * (g * a + (21.0 * a - 1.0))), 5040.0)
    t4 = div(
        (945.0 * a - 561.0)
        + g * ((1260.0 * a - 285.0) + g * ((378.0 * a - 33.0) + g * (g * a + (36.0 * a - 1.0)))),
        362880.0,
    )
    t5 = div(
        (10395.0 * a - 6555.0)
        + g
        * (
            (17325.0 * a - 4680.0)
            + g * ((6930.0 * a - 840.0) + g * ((990.0 * a - 52.0) + g * (g * a + (55.0 * a - 1.0))))
        ),
        39916800.0,
    )
    n6 = (a135135 - 89055.0) + g * (
        (270270.0 * a - 82845.0)
        + g
        * (
            (a135135 - 20370.0)
            + g
            * ((25740.0 * a - 1926.0) + g * ((2145.0 * a - 75.0) + g * (g * a + (78.0 * a - 1.0))))
        )
    )
    big_e = a + w * (t1 + w * (t2 + w * (t3 + w * (t4 + w * (t5 + div(w * n6, FACTORIAL_13))))))
    nu = exp((g + w) * -0.5) * INV_SQRT_2PI
    b = nu * ((t + t) * big_e)
    return b, nu


def region_cdf(x, s, t):
    hit("black.region3")
    h = div(x, s)
    z1 = h + t
    z2 = h - t
    phi1 = cdf(z1)
    phi2 = cdf(z2)
    e = exp(x * 0.5)
    b = e * phi1 - div(phi2, e)
    if x == 0.0:
        hit("black.region3.vega_atm")
        nu = exp(s * (s * -0.125)) * INV_SQRT_2PI
    elif s <= abs(x) * VEGA_GUARD:
        hit("black.region3.vega_guard")
        nu = 0.0
    else:
        nu = exp(fma(h, h, t * t) * -0.5) * INV_SQRT_2PI
    return b, nu


def region_erfcx(x, s, t):
    hit("black.region4")
    h = div(x, s)
    x1 = erfcx((h + t) * -INV_SQRT2)
    x2 = erfcx((h - t) * -INV_SQRT2)
    big_e = exp((h * h + t * t) * -0.5)
    b = (big_e * 0.5) * (x1 - x2)
    nu = big_e * INV_SQRT_2PI
    return b, nu


def normalised_black(x, s):
    """(b, nu): the normalised Black call price and its derivative in s."""
    if x > 0.0:
        hit("black.positive_x")
        b0, nu0 = normalised_black(-x, s)
        return b0 + max0(normalised_intrinsic(x)), nu0
    if s <= 0.0:
        hit("black.no_volatility")
        return 0.0, 0.0
    t = s * 0.5
    if x < s * ETA and x + s * t < s * ETA_PLUS_TAU:
        b, nu = region_asymptotic(x, s, t)
    elif t < TAU:
        b, nu = region_small_volatility(x, s, t)
    elif x + s * t > s * REGION3_BOUND:
        b, nu = region_cdf(x, s, t)
    else:
        b, nu = region_erfcx(x, s, t)
    return max0(b), nu


# ------------------------------------------------------------------------- prices


def price(is_put, s, k, t, r, q, sigma):
    if t <= 0.0:
        hit("price.expired")
        return max0(k - s) if is_put else max0(s - k)
    f = s * exp(t * (r - q))
    df = exp(-(r * t))
    x = log(div(f, k))
    if sigma <= 0.0 or not isfinite(x):
        hit("price.intrinsic")
        sq = s * exp(-(q * t))
        return max0(k * df - sq) if is_put else max0(sq - k * df)
    hit("price.formula")
    v = sqrt(t) * sigma
    b = normalised_black(-abs(x), v)[0]
    if not is_put and x > 0.0:
        intrinsic = df * (f - k)
    elif is_put and x < 0.0:
        intrinsic = df * (k - f)
    else:
        intrinsic = 0.0
    return (df * (sqrt(k) * sqrt(f))) * b + intrinsic


# ------------------------------------------------------------------------- Greeks


def d1_d2(s, k, t, r, q, sigma):
    rt = sqrt(t)
    v = rt * sigma
    d1 = div(log(div(s, k)) + t * ((r - q) + sigma * (sigma * 0.5)), v)
    return d1, d1 - v, rt


def degenerate(t, sigma):
    return t <= 0.0 or sigma <= 0.0


def degenerate_delta(is_put, s, k, t, r, q):
    hit("delta.degenerate")
    f = s * exp(t * (r - q)) if t > 0.0 else s
    m = t if t > 0.0 else 0.0
    e = exp(-(q * m))
    if is_put:
        return -e if f < k else 0.0
    return e if f > k else 0.0


def delta(is_put, s, k, t, r, q, sigma):
    if degenerate(t, sigma):
        return degenerate_delta(is_put, s, k, t, r, q)
    d1, _, _ = d1_d2(s, k, t, r, q, sigma)
    dq = exp(-(q * t))
    if is_put:
        return -(dq * cdf(-d1))
    return dq * cdf(d1)


def gamma(s, k, t, r, q, sigma):
    if degenerate(t, sigma):
        return 0.0
    d1, _, rt = d1_d2(s, k, t, r, q, sigma)
    dq = exp(-(q * t))
    return div(dq * pdf(d1), rt * (s * sigma))


def vega(s, k, t, r, q, sigma):
    if degenerate(t, sigma):
        return 0.0
    d1, _, rt = d1_d2(s, k, t, r, q, sigma)
    dq = exp(-(q * t))
    return rt * ((s * dq) * pdf(d1))


def theta(is_put, s, k, t, r, q, sigma):
    if degenerate(t, sigma):
        return 0.0
    d1, d2, rt = d1_d2(s, k, t, r, q, sigma)
    dq = exp(-(q * t))
    dr = exp(-(r * t))
    big_a = div(sigma * ((dq * s) * pdf(d1)), rt + rt)
    big_b = (k * r) * dr
    big_c = (s * q) * dq
    if is_put:
        return ((-big_a) + big_b * cdf(-d2)) - big_c * cdf(-d1)
    return ((-big_a) - big_b * cdf(d2)) + big_c * cdf(d1)


def rho(is_put, s, k, t, r, q, sigma):
    if degenerate(t, sigma):
        return 0.0
    _, d2, _ = d1_d2(s, k, t, r, q, sigma)
    dr = exp(-(r * t))
    if is_put:
        return -(((k * t) * dr) * cdf(-d2))
    return ((k * t) * dr) * cdf(d2)


def black76_rho(is_put, f, k, t, r, sigma):
    return -(t * price(is_put, f, k, t, r, r, sigma))


def greeks(is_put, s, k, t, r, q, sigma):
    """The single pass: (delta, gamma, vega, theta, rho) from shared d1, d2, dq, dr, phi(d1)."""
    if degenerate(t, sigma):
        return (degenerate_delta(is_put, s, k, t, r, q), 0.0, 0.0, 0.0, 0.0)
    d1, d2, rt = d1_d2(s, k, t, r, q, sigma)
    dq = exp(-(q * t))
    dr = exp(-(r * t))
    p = pdf(d1)
    n1 = cdf(-d1) if is_put else cdf(d1)
    n2 = cdf(-d2) if is_put else cdf(d2)
    big_a = div(sigma * ((dq * s) * p), rt + rt)
    if is_put:
        dlt = -(dq * n1)
        tht = (((k * r) * dr) * n2 - big_a) - ((s * q) * dq) * n1
        rh = -(((k * t) * dr) * n2)
    else:
        dlt = dq * n1
        tht = ((-big_a) - ((k * r) * dr) * n2) + ((s * q) * dq) * n1
        rh = ((k * t) * dr) * n2
    gam = div(dq * p, rt * (s * sigma))
    veg = rt * ((s * dq) * p)
    return (dlt, gam, veg, tht, rh)


def black76_greeks(is_put, f, k, t, r, sigma):
    if degenerate(t, sigma):
        return (
            degenerate_delta(is_put, f, k, t, r, r),
            0.0,
            0.0,
            0.0,
            -(t * price(is_put, f, k, t, r, r, sigma)),
        )
    d1, d2, rt = d1_d2(f, k, t, r, r, sigma)
    dr = exp(-(r * t))
    p = pdf(d1)
    n1 = cdf(-d1) if is_put else cdf(d1)
    n2 = cdf(-d2) if is_put else cdf(d2)
    big_a = div(sigma * ((dr * f) * p), rt + rt)
    if is_put:
        dlt = -(dr * n1)
        tht = (((k * r) * dr) * n2 - big_a) - ((f * r) * dr) * n1
    else:
        dlt = dr * n1
        tht = ((-big_a) - ((k * r) * dr) * n2) + ((f * r) * dr) * n1
    gam = div(dr * p, rt * (f * sigma))
    veg = rt * ((f * dr) * p)
    # rho = -(t * P), the Black-76 price from the v and dr above
    forward = f * exp(t * (r - r))
    x = log(div(forward, k))
    if isfinite(x):
        b = normalised_black(-abs(x), rt * sigma)[0]
        if not is_put and x > 0.0:
            intrinsic = dr * (forward - k)
        elif is_put and x < 0.0:
            intrinsic = dr * (k - forward)
        else:
            intrinsic = 0.0
        p_price = (dr * (sqrt(k) * sqrt(forward))) * b + intrinsic
    else:
        p_price = max0(k * dr - f * dr) if is_put else max0(f * dr - k * dr)
    return (dlt, gam, veg, tht, -(t * p_price))


# ------------------------------------------------------ inverse normal (AS241)

AS241_A = [from_bits(u) for u in (0x400B18D91E9EEF75, 0x4060A4888B1A436E, 0x409ECE5D2213C0CC,
                                  0x40CAD1D8CD4EE71D, 0x40E66C3E869B752A, 0x40F06C1C55B78F20,
                                  0x40E052D26B2E45E4, 0x40A39A296F7D925E)]  # fmt: skip
AS241_B = [1.0] + [from_bits(u) for u in (0x4045281B386E1AB5, 0x4085797EFDC8B3F7,
                                          0x40B512322E75C89F, 0x40D4B772D5D65266,
                                          0x40E3317CAA64F4BE, 0x40DC0E457CB1AE76,
                                          0x40B46A7ECA984B69)]  # fmt: skip
AS241_C = [from_bits(u) for u in (0x3FF6C665FDE9526B, 0x4012857748CAB19B, 0x401713F71462256A,
                                  0x400D2ECB1A3D02C4, 0x3FF453CC085375B2, 0x3FCEF2ABB9B85C37,
                                  0x3F9744EB6C45EC67, 0x3F49615AC0B7ACE9)]  # fmt: skip
AS241_D = [1.0] + [from_bits(u) for u in (0x40006CEFBB46A449, 0x3FFAD278E6526633,
                                          0x3FE61292F23385C9, 0x3FC2F5123394F040,
                                          0x3F8F207A7EAB17BF, 0x3F41F18CBFDF2728,
                                          0x3E120D3F686439E4)]  # fmt: skip
AS241_E = [from_bits(u) for u in (0x401AA1B1C13EE526, 0x4015DAEA6E875003, 0x3FFC8EA6461FA445,
                                  0x3FD2FAD9315255CF, 0x3F9B2B41193B4EE7, 0x3F545C1908425345,
                                  0x3EFC6EC6CC59E02A, 0x3E8AFB74D693BF93)]  # fmt: skip
AS241_F = [1.0] + [from_bits(u) for u in (0x3FE331D34FC7D77F, 0x3FC186EB183443FB,
                                          0x3F8E76F93215462A, 0x3F49C8BC979DC5D7,
                                          0x3EF35C2C496374BF, 0x3E831446F740B9E0,
                                          0x3CE269BFF1F8C190)]  # fmt: skip


def inv_cdf(p):
    if p != p:
        hit("inv_cdf.nan")
        return p
    if p <= 0.0:
        hit("inv_cdf.zero")
        return -INF
    if p >= 1.0:
        hit("inv_cdf.one")
        return INF
    q = p - 0.5
    if abs(q) <= 0.425:
        hit("inv_cdf.central")
        rr = 0.180625 - q * q
        return div(q * horner(rr, AS241_A), horner(rr, AS241_B))
    rr = sqrt(-log(p)) if q < 0.0 else sqrt(-log(1.0 - p))
    if rr < 5.0:
        hit("inv_cdf.near_tail")
        rr = rr - 1.6
        value = div(horner(rr, AS241_C), horner(rr, AS241_D))
    else:
        hit("inv_cdf.far_tail")
        rr = rr - 5.0
        value = div(horner(rr, AS241_E), horner(rr, AS241_F))
    return -value if q < 0.0 else value


# ------------------------------------------------------ rational cubic interpolation

R_MIN = -0.9999999850695  # 0xbfeffffff7fbf7bc
R_MAX = 4.054944344523184e31  # 0x467ffce5177bbec4


def rational_cubic_interpolation(x, x_l, x_r, y_l, y_r, d_l, d_r, r):
    h = x_r - x_l
    if h == 0.0:
        hit("cubic.zero_width")
        return div(y_l + y_r, 2.0)
    t = div(x - x_l, h)
    if r >= R_MAX:
        hit("cubic.linear")
        return y_r * t + y_l * (1.0 - t)
    hit("cubic.rational")
    t2 = t * t
    t3 = t2 * t
    omt = 1.0 - t
    omt2 = omt * omt
    omt3 = omt2 * omt
    numerator = (
        (y_r * t3 + ((r * y_r - h * d_r) * t2) * omt) + ((r * y_l + h * d_l) * t) * omt2
    ) + y_l * omt3
    denominator = 1.0 + ((r - 3.0) * t) * omt
    return div(numerator, denominator)


def fitted_control_parameter(left, x_l, x_r, y_l, y_r, d_l, d_r, c):
    """The control parameter that fits second derivative c at the left or the right end."""
    h = x_r - x_l
    num = (0.5 * h) * c + (d_r - d_l)
    if abs(num) < DBL_MIN:
        hit("cubic.fit_zero")
        return 0.0
    secant = div(y_r - y_l, h)
    den = secant - d_l if left else d_r - secant
    if abs(den) < DBL_MIN:
        hit("cubic.fit_flat")
        return R_MAX if num > 0.0 else R_MIN
    return div(num, den)


def minimum_control_parameter(d_l, d_r, m, prefer_shape):
    monotonic = d_l * m >= 0.0 and d_r * m >= 0.0
    convex = d_l <= m and m <= d_r
    concave = d_l >= m and m >= d_r
    if not monotonic and not convex and not concave:
        hit("cubic.min_shapeless")
        return R_MIN
    r1 = r2 = -DBL_MAX
    if monotonic:
        if abs(m) >= DBL_MIN:
            r1 = div(d_r + d_l, m)
        elif prefer_shape:
            r1 = R_MAX
    if convex or concave:
        if abs(m - d_l) >= DBL_MIN and abs(d_r - m) >= DBL_MIN:
            r2 = maxnum(abs(div(d_r - d_l, d_r - m)), abs(div(d_r - d_l, m - d_l)))
        elif prefer_shape:
            hit("cubic.min_degenerate_shape")
            r2 = R_MAX
    elif monotonic and prefer_shape:
        r2 = R_MAX
    return maxnum(R_MIN, maxnum(r1, r2))


def convex_control_parameter(left, x_l, x_r, y_l, y_r, d_l, d_r, c, prefer_shape):
    fit = fitted_control_parameter(left, x_l, x_r, y_l, y_r, d_l, d_r, c)
    m = div(y_r - y_l, x_r - x_l)
    return maxnum(fit, minimum_control_parameter(d_l, d_r, m, prefer_shape))


# ------------------------------------------------------------ implied volatility

INV_SQRT3 = 0.5773502691896257  # 0x3fe279a74590331c
SQRT3 = 1.7320508075688772  # 0x3ffbb67ae8584caa
TWO_PI = 6.283185307179586  # 0x401921fb54442d18
TWO_PI_OVER_SQRT27 = 1.2091995761561452  # 0x3ff358e1a79ed7e1
EIGHT_SQRT3 = 13.856406460551018  # 0x402bb67ae8584caa
PI_OVER_6 = 0.5235987755982989  # 0x3fe0c152382d7366
SQRT_2PI = 2.5066282746310002  # 0x40040d931ff62705
SQRT_DBL_MAX = 1.3407807929942596e154  # 0x5fefffffffffffff
EPSILON = 2.220446049250313e-16  # 2**-52
PRICE_TOLERANCE = 1e-12  # 0x3d719799812dea11
LOWER, MIDDLE, UPPER = "lower", "middle", "upper"


def lower_map_guess(x, ax, beta, s_l, b_l):
    hit("guess.branch1")
    z = div(ax * INV_SQRT3, s_l)
    y = z * z
    phi_minus = cdf(-z)
    phi = div(exp(div(-(z * z), 2.0)), SQRT_2PI)
    if s_l <= 0.0:
        fp = 1.0
        f_l = 0.0
    else:
        fp = ((TWO_PI * y) * (phi_minus * phi_minus)) * exp(y + div(s_l * s_l, 8.0))
        f_l = 0.0 if x == 0.0 else (ax * TWO_PI_OVER_SQRT27) * ((phi_minus * phi_minus) * phi_minus)
    s2 = s_l * s_l
    big_b = (EIGHT_SQRT3 * s_l) * ax + div(
        ((3.0 * s2) * (s2 - 8.0) - 8.0 * (x * x)) * phi_minus, phi
    )
    fpp = (div((exp(2.0 * y + div(s2, 4.0)) * PI_OVER_6) * y, s2 * s_l) * phi_minus) * big_b
    r = convex_control_parameter(False, 0.0, b_l, 0.0, f_l, 1.0, fp, fpp, True)
    f_hat = rational_cubic_interpolation(beta, 0.0, b_l, 0.0, f_l, 1.0, fp, r)
    if f_hat <= 0.0:
        hit("guess.branch1_quadratic")
        tau = div(beta, b_l)
        f_hat = (f_l * tau + b_l * (1.0 - tau)) * tau
    if f_hat > 0.0:
        s0 = abs(div(x, SQRT3 * inv_cdf(cbrt(div(f_hat, TWO_PI_OVER_SQRT27 * ax)))))
    else:
        hit("guess.branch1_zero")
        s0 = 0.0
    return s0, 0.0, s_l, LOWER


def upper_map_guess(x, beta, b_max, s_u, b_u):
    hit("guess.branch4")
    f_u = cdf(div(-s_u, 2.0))
    if x == 0.0:
        hit("guess.branch4_atm")
        fp = -0.5
        fpp = 0.0
    else:
        w = div(x, s_u) * div(x, s_u)
        fp = -0.5 * exp(div(w, 2.0))
        fpp = div((SQRT_HALF_PI * exp(w + div(s_u * s_u, 8.0))) * w, s_u)
    h = b_max - b_u
    bounded = abs(fpp) < SQRT_DBL_MAX
    f_hat = 0.0
    if bounded:
        r = convex_control_parameter(True, b_u, b_max, f_u, 0.0, fp, -0.5, fpp, True)
        f_hat = rational_cubic_interpolation(beta, b_u, b_max, f_u, 0.0, fp, -0.5, r)
    if not bounded or f_hat <= 0.0:
        hit("guess.branch4_quadratic")
        tau = div(beta - b_u, h)
        f_hat = (f_u * (1.0 - tau) + (0.5 * h) * tau) * (1.0 - tau)
    s0 = -2.0 * inv_cdf(f_hat)
    return s0, s_u, DBL_MAX, UPPER if beta > div(b_max, 2.0) else MIDDLE


def initial_guess(x, ax, beta, b_max):
    """(s0, s_left, s_right, objective) for an out-of-the-money call, x <= 0."""
    s_c = sqrt(ax + ax)
    b_c, v_c = normalised_black(x, s_c)
    if beta < b_c:
        s_l = s_c - div(b_c, v_c)
        b_l, v_l = normalised_black(x, s_l)
        if beta < b_l:
            return lower_map_guess(x, ax, beta, s_l, b_l)
        hit("guess.branch2")
        d_l = div(1.0, v_l)
        d_r = div(1.0, v_c)
        r = convex_control_parameter(False, b_l, b_c, s_l, s_c, d_l, d_r, 0.0, False)
        s0 = rational_cubic_interpolation(beta, b_l, b_c, s_l, s_c, d_l, d_r, r)
        return s0, s_l, s_c, MIDDLE
    if v_c > DBL_MIN:
        s_u = s_c + div(b_max - b_c, v_c)
    else:
        hit("guess.flat_centre")
        s_u = s_c
    b_u, v_u = normalised_black(x, s_u)
    if beta <= b_u:
        hit("guess.branch3")
        d_l = div(1.0, v_c)
        d_r = div(1.0, v_u)
        r = convex_control_parameter(True, b_c, b_u, s_c, s_u, d_l, d_r, 0.0, False)
        s0 = rational_cubic_interpolation(beta, b_c, b_u, s_c, s_u, d_l, d_r, r)
        return s0, s_c, s_u, MIDDLE
    return upper_map_guess(x, beta, b_max, s_u, b_u)


def householder_factor(nu, eta, kappa):
    return div(1.0 + div(eta * nu, 2.0), 1.0 + nu * (eta + div(kappa * nu, 6.0)))


def refine(x, beta, b_max, s, s_left, s_right, objective):
    """At most four third-order Householder steps, safeguarded by the bracket."""
    ds = DBL_MAX
    ds_prev = DBL_MAX
    reversals = 0
    ln_beta = log(beta) if objective == LOWER else 0.0
    bmax_minus_beta = b_max - beta if objective == UPPER else 0.0
    for i in range(4):
        if abs(ds) <= EPSILON * s:
            hit("refine.converged")
            break
        if i >= 1:
            if ds * ds_prev < 0.0:
                reversals += 1
            if reversals >= 3 or not (s_left < s and s < s_right):
                hit("refine.reversals" if reversals >= 3 else "refine.outside")
                s = div(s_left + s_right, 2.0)
                if s_right - s_left <= EPSILON * s:
                    hit("refine.bracket_closed")
                    break
                reversals = 0
                ds = 0.0
        ds_prev = ds
        b, bp = normalised_black(x, s)
        if b > beta and s < s_right:
            s_right = s
        elif b < beta and s > s_left:
            s_left = s
        bisection = div(s_left + s_right, 2.0) - s
        b_h = div(div(x, s) * div(x, s), s) - div(s, 4.0)
        x_s2 = div(x, s * s)
        b_hh = (b_h * b_h - 3.0 * (x_s2 * x_s2)) - 0.25
        if objective == MIDDLE:
            if bp <= 0.0:
                hit("refine.middle_bisect")
                ds = bisection
            else:
                hit("refine.middle_step")
                nu = div(beta - b, bp)
                ds = nu * householder_factor(nu, b_h, b_hh)
        elif objective == LOWER:
            if b <= 0.0 or bp <= 0.0:
                hit("refine.lower_bisect")
                ds = bisection
            else:
                hit("refine.lower_step")
                ln_b = log(b)
                p = div(bp, b)
                nu = div(div((ln_beta - ln_b) * ln_b, ln_beta), p)
                two_over_l = 1.0 + div(2.0, ln_b)
                eta = b_h - p * two_over_l
                kappa = (
                    b_hh
                    + (2.0 * (p * p)) * (1.0 + div(3.0, ln_b) * (1.0 + div(1.0, ln_b)))
                    - ((3.0 * b_h) * p) * two_over_l
                )
                ds = nu * householder_factor(nu, eta, kappa)
        else:
            if b >= b_max or bp <= DBL_MIN:
                hit("refine.upper_bisect")
                ds = bisection
            else:
                hit("refine.upper_step")
                g = log(div(bmax_minus_beta, b_max - b))
                gam = div(bp, b_max - b)
                nu = div(-g, gam)
                eta = b_h + gam
                kappa = b_hh + gam * (2.0 * gam + 3.0 * b_h)
                ds = nu * householder_factor(nu, eta, kappa)
        floor = div(-s, 2.0)
        if not (ds >= floor):
            hit("refine.floor")
        ds = maxnum(ds, floor)
        s = s + ds
    return s


def intrinsic_signed(x, theta):
    """The normalised intrinsic value with the sign of theta."""
    sign = 1.0 if theta > 0.0 else -1.0
    if x * x < SERIES_BOUND:
        hit("iv.intrinsic_series")
        return (sign * x) * fma_horner_sinh(x)
    hit("iv.intrinsic_exp")
    e = exp(div(x, 2.0))
    return sign * (e - div(1.0, e))


def fma_horner_sinh(x):
    """1 + x^2*(c1 + x^2*(c2 + x^2*(c3 + x^2*c4))), each step one fma."""
    x2 = x * x
    p = fma(x2, SINH_C[3], SINH_C[2])
    p = fma(x2, p, SINH_C[1])
    p = fma(x2, p, SINH_C[0])
    return fma(x2, p, 1.0)


def iv(is_put, target, s, k, t, r, q):
    """The BSM volatility that reproduces the price `target` (0.0 or NaN where it does not exist)."""
    if not (isfinite(s) and isfinite(k) and isfinite(t) and isfinite(r) and isfinite(q)):
        hit("iv.nonfinite_input")
        return NAN
    if k <= 0.0 or s <= 0.0 or t <= 0.0:
        hit("iv.nonpositive_input")
        return NAN
    if not isfinite(target) or target < 0.0:
        hit("iv.bad_price")
        return NAN
    d = exp(-r * t)
    dq = exp(-q * t)
    s_disc = s * dq
    k_disc = k * d
    if is_put:
        theta = -1.0
        intrinsic = max0(k_disc - s_disc)
        upper = k_disc
    else:
        theta = 1.0
        intrinsic = max0(s_disc - k_disc)
        upper = s_disc
    if not (target <= upper + PRICE_TOLERANCE and target >= intrinsic - PRICE_TOLERANCE):
        hit("iv.out_of_bounds")
        return NAN
    if target <= intrinsic:
        hit("iv.at_intrinsic")
        return 0.0
    if target >= upper:
        hit("iv.at_upper")
        return NAN
    forward = div(s_disc, d)
    x = log(div(forward, k))
    beta = div(div(target, d), sqrt(k) * sqrt(forward))
    if theta * x > 0.0:
        hit("iv.in_the_money")
        iota = max0(intrinsic_signed(x, theta))
        beta = max0(beta - iota)
        theta = -theta
    xp = -x if theta < 0.0 else x
    if beta <= 0.0:
        hit("iv.zero_time_value")
        return 0.0
    b_max = exp(div(xp, 2.0))
    if beta >= b_max:
        hit("iv.above_max")
        return NAN
    s0, s_left, s_right, objective = initial_guess(xp, abs(x), beta, b_max)
    s_total = refine(xp, beta, b_max, s0, s_left, s_right, objective)
    if abs(s_total) <= DBL_MAX:
        return div(s_total, sqrt(t))
    hit("iv.nonfinite_result")
    return NAN

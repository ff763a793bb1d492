"""Reassociated formulas, and rows of the golden table that tell them apart from the right ones.

A change of operation order (for example (t/h)*(t/h) into (t*t)/(h*h)) alters the result of only
a few inputs in a million, so random rows rarely expose it. Each mutant below is one such change,
applied to bitexact.py's source text; `killing_rows` searches the mutant's domain for option
inputs on which it changes a result, and gen_golden.py adds a few of them to the table. A C++
kernel that made the same change would then fail the golden tests.
"""

import inspect
import math

import bitexact as bx

SQRT_TAU2 = 2.0 * bx.TAU


def _option(rng, x, v):
    """A BSM row with log-moneyness about x and total volatility v (t = 1, r = q)."""
    if abs(x) >= 700.0:
        return None
    flag = rng.choice((1.0, -1.0))
    k = _log_uniform(rng, 0.1, 1000.0)
    s = k * math.exp(x if rng.random() < 0.5 else -x)
    r = rng.uniform(-0.1, 0.2)
    return (flag, s, k, 1.0, r, r, v, 0.0, 0.0)


def _log_uniform(rng, lo, hi):
    return math.exp(rng.uniform(math.log(lo), math.log(hi)))


def region1_edge(rng):
    """An out-of-the-money call deep in region 1 with t = v/2 close to its bound -h - 9.79, where
    e = (t/h)^2 and q = (h/r)^2 are largest; k = 1, t = 1, r = q = 0, so that x = ln s and
    v = sigma exactly."""
    h = -rng.uniform(10.0, 30.0)
    v = 2.0 * rng.uniform(0.3, 1.0) * (-h - 9.789747145884828)
    if abs(h * v) > 700.0:
        return None
    return (1.0, math.exp(h * v), 1.0, 1.0, 0.0, 0.0, v, 0.0, 0.0)


def region1(rng):
    v = _log_uniform(rng, 1e-3, 2.0)
    return _option(rng, -v * rng.uniform(10.0, 40.0), v)


# Rows that tools/equivalence found for mutants whose changes are too rare for a search here (about
# 1 option in 10^6 even at the edge of their domain); killing_rows keeps those on which bitexact.py
# with the mutant applied changes a result too.
REGION1_H10_ROWS = (
    # h = -10 to a few ulps with v = 0.0039 (q = (h/r)^2 at its largest, 1/100): the price
    (1.0, 0.9613100267881494, 1.0, 1.0, 0.0, 0.0, 0.003945831351833722, 0.0, 0.0),
)


# The guess's curvatures at the ends of the interpolation: tools/equivalence found the implied
# volatility changed on about 1 option in 10^4 of its aimed samples, none of them in a region a
# search here draws from cheaply.
LOWER_MAP_FPP_ROWS = (
    (
        1.0,
        100.0,
        97.11823785279579,
        0.17389817828410076,
        0.01425762629644746,
        0.01425762629644746,
        0.05963567621460036,
        3.018716800975203,
        3.018716800975203,
    ),
    (
        1.0,
        1.258077414259854,
        1.0,
        1.0,
        0.0,
        0.0,
        0.11314921760896349,
        0.25907271221826733,
        0.25907271221826733,
    ),
    (
        1.0,
        0.7514159207906282,
        1.0,
        1.0,
        0.0,
        0.0,
        0.22858146527213521,
        0.009972601965556984,
        0.009972601965556984,
    ),
    (
        1.0,
        100.0,
        72.61654309118931,
        0.34434347385519215,
        0.08363338938399685,
        0.08363338938399685,
        0.4055986880503746,
        27.393689404073452,
        27.417834391652686,
    ),
)
UPPER_MAP_FPP_ROWS = (
    (
        1.0,
        1.4361032813490367e-68,
        1.0,
        1.0,
        0.0,
        0.0,
        9.421826749079258,
        5.4114397835533304e-101,
        1.4361032813482967e-68,
    ),
    (
        1.0,
        0.9898878945493467,
        1.0,
        1.0,
        0.0,
        0.0,
        0.0010163580094331144,
        0.9762451726397121,
        7.5583206596812425e-28,
    ),
    (
        1.0,
        0.8234881280326435,
        1.0,
        1.0,
        0.0,
        0.0,
        0.0194206145943596,
        1.3172166044380245e-26,
        0.7368169203798678,
    ),
    (
        1.0,
        1.0042472418114445,
        1.0,
        1.0,
        0.0,
        0.0,
        0.0004238247737619495,
        0.004247241811444535,
        0.9008202878537027,
    ),
)


def region2(rng):
    return _option(rng, -rng.uniform(0.0, 4.0), rng.uniform(1e-3, SQRT_TAU2))


def any_region(rng):
    return _option(rng, -_log_uniform(rng, 1e-6, 60.0), _log_uniform(rng, 1e-3, 30.0))


def greek_option(rng):
    s = _log_uniform(rng, 1.0, 1000.0)
    k = s * math.exp(rng.uniform(-3.0, 3.0))
    t = _log_uniform(rng, 0.01, 10.0)
    sigma = _log_uniform(rng, 0.01, 2.0)
    return (rng.choice((1.0, -1.0)), s, k, t, rng.uniform(-0.1, 0.2), rng.uniform(-0.1, 0.2), sigma)


def greek(rng):
    return (*greek_option(rng), 0.0, 0.0)


def _inverted(flag, s, k, v):
    """A row (t = 1, r = q = 0) whose target prices are the price at total volatility v."""
    p = bx.price(flag < 0, s, k, 1.0, 0.0, 0.0, v)
    return (flag, s, k, 1.0, 0.0, 0.0, v, p, p)


def iv_lower(rng):
    """Small prices far out of the money: the lower map and the lower objective."""
    k = math.exp(rng.uniform(0.5, 30.0))
    return _inverted(1.0, 1.0, k, math.log(k) * _log_uniform(rng, 0.01, 0.6))


def iv_lower_deep(rng):
    """Far out of the money at large total volatility (x/v about -5 to -10): the lower objective
    with its longest Householder steps."""
    k = math.exp(rng.uniform(15.0, 40.0))
    return _inverted(1.0, 1.0, k, math.log(k) * rng.uniform(0.1, 0.2))


def iv_upper(rng):
    """Large total volatilities: the upper map and the upper objective."""
    k = math.exp(rng.uniform(-5.0, 5.0))
    return _inverted(rng.choice((1.0, -1.0)), 1.0, k, _log_uniform(rng, 1.0, 40.0))


def iv_option(rng):
    """A row whose target prices are the prices at a random volatility (so iv inverts them)."""
    flag, s, k, t, r, q, sigma = greek_option(rng)
    sigma = _log_uniform(rng, 1e-3, 5.0)
    if rng.random() < 0.3:
        k = s * math.exp(rng.uniform(-30.0, 30.0))
    put = flag < 0
    return (
        flag,
        s,
        k,
        t,
        r,
        q,
        sigma,
        bx.price(put, s, k, t, r, q, sigma),
        bx.price(put, s, k, t, r, r, sigma),
    )


# (name, function in bitexact, text, reassociated text, domain (a function drawing rows, or a tuple
# of rows to try in turn), outputs it can change, and the number of tries relative to the others)
MUTANTS = [
    (
        "region1 e",
        "region_asymptotic",
        "div(t, h) * div(t, h)",
        "div(t * t, h * h)",
        region1_edge,
        "b",
        10.0,
    ),
    ("region1 q", "region_asymptotic", "div(h, r) * div(h, r)", "div(h * h, r * r)", region1, "p"),
    (
        "region1 b",
        "region_asymptotic",
        "(div(t, r) * nu) * big_a",
        "div(t, r) * (nu * big_a)",
        region1,
        "p",
    ),
    (
        "region1 A 7q",
        "region_asymptotic",
        "(q * float(2 * k + 1)) * inner",
        "((q * (float(2 * k + 1) * inner)) if k == 3 else (q * float(2 * k + 1)) * inner)",
        REGION1_H10_ROWS,
        "p",
    ),
    (
        "region2 b",
        "region_small_volatility",
        "nu * ((t + t) * big_e)",
        "(nu * (t + t)) * big_e",
        region2,
        "p",
    ),
    (
        "region2 N6",
        "region_small_volatility",
        "div(w * n6, FACTORIAL_13)",
        "w * div(n6, FACTORIAL_13)",
        region2,
        "p",
    ),
    (
        "region2 a",
        "region_small_volatility",
        "(h * SQRT_HALF_PI) * erfcx(h * -INV_SQRT2)",
        "h * (SQRT_HALF_PI * erfcx(h * -INV_SQRT2))",
        region2,
        "p",
    ),
    ("region3 fma", "region_cdf", "fma(h, h, t * t)", "(h * h + t * t)", iv_option, "i"),
    ("erfc tail", "erfc_tail", "(w - ax) * (w + ax)", "(w * w - ax * ax)", greek, "d"),
    ("erfc small", "erfc", "0.5 - ((x - 0.5) + x * y)", "(0.5 - (x - 0.5)) - x * y", greek, "d"),
    (
        "price scale",
        "price",
        "(df * (sqrt(k) * sqrt(f))) * b",
        "df * ((sqrt(k) * sqrt(f)) * b)",
        any_region,
        "p",
    ),
    ("price roots", "price", "sqrt(k) * sqrt(f)", "sqrt(k * f)", any_region, "p"),
    ("gamma", "gamma", "rt * (s * sigma)", "(rt * s) * sigma", greek, "g"),
    ("vega", "vega", "rt * ((s * dq) * pdf(d1))", "(rt * (s * dq)) * pdf(d1)", greek, "v"),
    (
        "theta A",
        "theta",
        "sigma * ((dq * s) * pdf(d1))",
        "(sigma * (dq * s)) * pdf(d1)",
        greek,
        "t",
    ),
    ("rho", "rho", "((k * t) * dr) * cdf(d2)", "(k * (t * dr)) * cdf(d2)", greek, "r"),
    (
        "upper map w",
        "upper_map_guess",
        "div(x, s_u) * div(x, s_u)",
        "div(x * x, s_u * s_u)",
        iv_option,
        "i",
    ),
    (
        "lower map f'",
        "lower_map_guess",
        "((TWO_PI * y) * (phi_minus * phi_minus))",
        "(TWO_PI * (y * (phi_minus * phi_minus)))",
        iv_option,
        "i",
    ),
    (
        "lower map f''",
        "lower_map_guess",
        "div((exp(2.0 * y + div(s2, 4.0)) * PI_OVER_6) * y, s2 * s_l)",
        "div(div((exp(2.0 * y + div(s2, 4.0)) * PI_OVER_6) * y, s2), s_l)",
        LOWER_MAP_FPP_ROWS,
        "i",
    ),
    (
        "upper map f''",
        "upper_map_guess",
        "(SQRT_HALF_PI * exp(w + div(s_u * s_u, 8.0))) * w",
        "SQRT_HALF_PI * (exp(w + div(s_u * s_u, 8.0)) * w)",
        UPPER_MAP_FPP_ROWS,
        "i",
    ),
    (
        "cubic numerator",
        "rational_cubic_interpolation",
        "((r * y_l + h * d_l) * t) * omt2",
        "(r * y_l + h * d_l) * (t * omt2)",
        iv_option,
        "i",
    ),
    (
        "householder",
        "householder_factor",
        "div(kappa * nu, 6.0)",
        "kappa * div(nu, 6.0)",
        iv_lower,
        "i",
    ),
    (
        "refine b_h",
        "refine",
        "div(div(x, s) * div(x, s), s)",
        "div(x * x, (s * s) * s)",
        iv_option,
        "i",
    ),
    (
        "refine b_hh",
        "refine",
        "(x_s2 * x_s2)",
        "div(x * x, (s * s) * (s * s))",
        iv_option,
        "i",
        4.0,
    ),
    (
        "refine x/s^2 once",
        "refine",
        "(x_s2 * x_s2)",
        "(x_s2 * div(div(x, s), s))",
        iv_lower_deep,
        "i",
        8.0,
    ),
    (
        "refine 3(x/s^2)^2",
        "refine",
        "3.0 * (x_s2 * x_s2)",
        "(3.0 * x_s2) * x_s2",
        iv_lower_deep,
        "i",
        8.0,
    ),
    (
        "refine 3bh",
        "refine",
        "((3.0 * b_h) * p) * two_over_l",
        "(3.0 * (b_h * p)) * two_over_l",
        iv_lower,
        "i",
        3.0,
    ),
    (
        "refine upper",
        "refine",
        "gam * (2.0 * gam + 3.0 * b_h)",
        "gam * 2.0 * gam + gam * 3.0 * b_h",
        iv_lower,
        "i",
    ),
    (
        "iv beta",
        "iv",
        "div(div(target, d), sqrt(k) * sqrt(forward))",
        "div(target, d * (sqrt(k) * sqrt(forward)))",
        iv_option,
        "i",
    ),
]


def outputs(row, which):
    """The results a mutant can change: p price, i implied volatility, d delta, g gamma, v vega,
    t theta, r rho, of both models; or b, the normalised Black function alone (which decides the
    price of a region1_edge row)."""
    flag, s, k, t, r, q, sigma, target, target76 = row
    put = flag < 0
    if which == "b":
        return [bx.to_bits(bx.normalised_black(-abs(bx.log(s)), sigma)[0])]
    out = []
    for qq, tp in ((q, target), (r, target76)):
        if which == "p":
            out.append(bx.price(put, s, k, t, r, qq, sigma))
        elif which == "i":
            out.append(bx.iv(put, tp, s, k, t, r, qq))
        elif which == "d":
            out.append(bx.delta(put, s, k, t, r, qq, sigma))
        elif which == "g":
            out.append(bx.gamma(s, k, t, r, qq, sigma))
        elif which == "v":
            out.append(bx.vega(s, k, t, r, qq, sigma))
        elif which == "t":
            out.append(bx.theta(put, s, k, t, r, qq, sigma))
        else:
            out.append(bx.rho(put, s, k, t, r, qq, sigma))
    return [bx.to_bits(v) if v == v else -1 for v in out]


class Applied:
    """The mutant in place of bitexact's function while the `with` block runs."""

    def __init__(self, function, text, mutated):
        self.name = function
        source = inspect.getsource(getattr(bx, function))
        if source.count(text) != 1:
            raise ValueError(f"{text!r} is not once in {function}")
        namespace = dict(vars(bx))
        exec(source.replace(text, mutated), namespace)
        self.mutant = namespace[function]

    def __enter__(self):
        self.original = getattr(bx, self.name)
        setattr(bx, self.name, self.mutant)

    def __exit__(self, *exc):
        setattr(bx, self.name, self.original)


def killing_rows(rng, per_mutant, tries_per_mutant):
    """Up to per_mutant rows for each mutant on which it changes a result; and the search's log."""
    rows, log = [], []
    for name, function, text, mutated, domain, which, *longer in MUTANTS:
        found, tried = 0, 0
        applied = Applied(function, text, mutated)
        limit = int(tries_per_mutant * (longer[0] if longer else 1.0))
        draws = iter(domain) if isinstance(domain, tuple) else iter(lambda: domain(rng), ...)
        for row in draws:
            if found >= per_mutant or tried >= limit:
                break
            if row is None:
                continue
            tried += 1
            right = outputs(row, which)
            with applied:
                wrong = outputs(row, which)
            if right != wrong:
                rows.append(row)
                found += 1
        log.append(f"{name}: {found} rows from {tried} tried")
    return rows, log

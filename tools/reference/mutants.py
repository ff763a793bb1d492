"""Reassociated formulas, and rows of the golden table that tell them apart from the right ones.

A change of operation order (for example (t/h)*(t/h) into (t*t)/(h*h)) alters the result of only
a few inputs in a million, so random rows rarely expose it. Each mutant below is one such change,
applied to bitexact.py's source text; `killing_rows` searches the mutant's domain for option
inputs on which it changes a result, and gen_golden.py adds a few of them to the table. A C++
kernel that made the same change would then fail the golden tests.
"""

import inspect
import math
import re

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


# fmt: off
# The guess's curvatures at the ends of the interpolation: tools/equivalence found the implied
# volatility changed on about 1 option in 10^4 of its aimed samples, none of them in a region a
# search here draws from cheaply.
LOWER_MAP_FPP_ROWS = (
    (1.0, 100.0, 97.11823785279579, 0.17389817828410076, 0.01425762629644746, 0.01425762629644746, 0.05963567621460036,
     3.018716800975203, 3.018716800975203),
    (1.0, 1.258077414259854, 1.0, 1.0, 0.0, 0.0, 0.11314921760896349,
     0.25907271221826733, 0.25907271221826733),
    (1.0, 0.7514159207906282, 1.0, 1.0, 0.0, 0.0, 0.22858146527213521,
     0.009972601965556984, 0.009972601965556984),
    (1.0, 100.0, 72.61654309118931, 0.34434347385519215, 0.08363338938399685, 0.08363338938399685, 0.4055986880503746,
     27.393689404073452, 27.417834391652686),
)

UPPER_MAP_FPP_ROWS = (
    (1.0, 1.4361032813490367e-68, 1.0, 1.0, 0.0, 0.0, 9.421826749079258,
     5.4114397835533304e-101, 1.4361032813482967e-68),
    (1.0, 0.9898878945493467, 1.0, 1.0, 0.0, 0.0, 0.0010163580094331144,
     0.9762451726397121, 7.5583206596812425e-28),
    (1.0, 0.8234881280326435, 1.0, 1.0, 0.0, 0.0, 0.0194206145943596,
     1.3172166044380245e-26, 0.7368169203798678),
    (1.0, 1.0042472418114445, 1.0, 1.0, 0.0, 0.0, 0.0004238247737619495,
     0.004247241811444535, 0.9008202878537027),
)

# The Householder factor and the lower refinement's second derivative, likewise (37 and 195
# options in 10^7, at huge total volatility or far out of the money).
HOUSEHOLDER_ROWS = (
    (-1.0, 9.335697250542602e+43, 1.0, 1.0, 0.0, 0.0, 15.105262499517655,
     0.9999999999990811, 0.7829315252868526),
    (-1.0, 2.2857192186084387e+60, 1.0, 1.0, 0.0, 0.0, 24.851139453304505,
     0.9999999999942378, 0.9999999999942378),
    (1.0, 2.2041017975312858e-36, 1.0, 1.0, 0.0, 0.0, 2.0, 2.2041017975297897e-36, 0.0),
    (1.0, 7.236994610821635e-48, 1.0, 1.0, 0.0, 0.0, 23.15155545008924,
     2.974018159618883e-94, 7.236994610792209e-48),
)

REFINE_LN_B_ROWS = (
    (1.0, 1.9881358062248274e-208, 1.0, 1.0, 0.0, 0.0, 19.559600639611805,
     5.589557724688108e-257, 5.589557724688108e-257),
    (1.0, 4.7395059813205026e-55, 1.0, 1.0, 0.0, 0.0, 7.442462784700635,
     3.3867920176384864e-94, 3.3867920176384864e-94),
    (1.0, 6.579051878959344e-275, 1.0, 1.0, 0.0, 0.0, 26.82164914058354,
     9.965336391846236e-299, 9.965336391846236e-299),
    (-1.0, 100.0, 144.3451426966794, 0.2633605179988926, 0.030490319236432528, 0.030490319236432528, 0.2912450577308358,
     44.031303176086865, 44.031303176086865),
)

# P_2's innermost sum, 20 + (e + e), as (20 + e) + e: 6 options in 10^7 change their price.
REGION1_P2_ROWS = (
    (-1.0, 9.494063604216211e+85, 1.0, 1.0, 0.0, 0.0, 11.864082490451363,
     1.4706933646365833e-27, 1.4715582021370849e-27),
    (1.0, 100.0, 6.917541424770055e+174, 0.11944494482333297, 0.0769436616455688, 0.0769436616455688, 55.084777187369944,
     1.5189580895863008e-28, 1.5189580895863008e-28),
    (-1.0, 100.0, 1.1954939946348311e-58, 0.1180850457920216, 0.09019042336838044, 0.09019042336838044, 24.227729550328664,
     4.6217733410023826e-302, 5.442220274054365e-94),
    (1.0, 100.0, 3.034553157226677e+254, 0.08754615799235535, -0.007194063326130949, -0.007194063326130949, 72.7174232950531,
     5.190652836328881e-58, 5.190652836328881e-58),
)

# The series' first factor, (q * 3) * (P2 + ...) as q * (3 * (P2 + ...)): 178 options in 10^7.
REGION1_A_3Q_ROWS = (
    (-1.0, 100.0, 9.6048254101832e+30, 0.6413858557850742, 0.08765364232756327, 0.08765364232756327, 6.019949884835877,
     9.079742313920402e+30, 5.709257727327269e+30),
    (1.0, 100.0, 101.68398019011622, 0.4033888249418959, 0.046916711406392766, 0.046916711406392766, 0.00262932173675676,
     1.2350886006626064e-25, 1.2350886006626064e-25),
    (-1.0, 0.9958174887960668, 1.0, 1.0, 0.0, 0.0, 0.00041912823694607626,
     0.0041825112039332035, 0.0041825112039332035),
    (1.0, 100.0, 145.5350803924026, 0.39880944403206753, 0.04388908911227968, 0.04388908911227968, 0.05942025094881608,
     3.324375385063189e-24, 3.324375385063189e-24),
)

# The one option on which two of the reassociations below (in T3 and T4) change the price.
REGION2_SHARED_ROW = (1.0, 0.024336027718962382, 1.0, 1.0, 0.0, 0.0, 0.411325586935478,
                       5.639419864745607e-22, 5.639419864745607e-22)

# Reassociations in the small-volatility expansion's terms that change prices on 1 to 2,299 options
# in 10^7 (tools/equivalence): the C++ text, as bitexact.py writes it too, its reassociation, and
# rows on which tools/equivalence saw a change (one, for the 378a term, found by a search nearby).
REGION2_TERMS = (
    (
        "(15.0 * a - 7.0) + g * (g * a + (10.0 * a - 1.0))",
        "(15.0 * a) - (7.0 - (g * (g * a + (10.0 * a - 1.0))))",
        (
            (1.0, 0.01588410789039688, 1.0, 1.0, 0.0, 0.0, 0.41424361733415344,
             3.8210422498757567e-26, 3.8210422498757567e-26),
            (-1.0, 0.03444744940375353, 1.0, 1.0, 0.0, 0.0, 0.3368320321890283,
             0.9655525505962465, 0.9655525505962465),
            (-1.0, 0.05424902997939867, 1.0, 1.0, 0.0, 0.0, 0.38596982656471907,
             0.9457509700206016, 0.9457509700206016),
            (-1.0, 3.9952188771233303, 1.0, 1.0, 0.0, 0.0, 0.38244144645972716,
             2.6917955410367618e-05, 2.6917955410367618e-05),
        ),
    ),
    (
        "g * a + (10.0 * a - 1.0)",
        "((g * a) + (10.0 * a)) - 1.0",
        (
            (-1.0, 100.0, 5957.036657571805, 0.37332976951285124, 0.02058365622978993, 0.02058365622978993, 0.6689214797680916,
             5812.200799388398, 5812.200799388398),
            (-1.0, 0.020555200574353876, 1.0, 1.0, 0.0, 0.0, 0.38846413007485475,
             0.9794447994256461, 0.9794447994256461),
            (-1.0, 8.2819626385091, 1.0, 1.0, 0.0, 0.0, 0.2114079973945501,
             4.526352888286973e-25, 4.522648790988801e-25),
            (1.0, 0.017721399361480778, 1.0, 1.0, 0.0, 0.0, 0.4032982366185038,
             3.933658065466315e-26, 3.9303245632838625e-26),
        ),
    ),
    (
        "(a105 - 57.0) + g * ((a105 - 18.0) + g * (g * a + (21.0 * a - 1.0)))",
        "a105 - (57.0 - (g * ((a105 - 18.0) + g * (g * a + (21.0 * a - 1.0)))))",
        (
            REGION2_SHARED_ROW,
            (-1.0, 0.06546345960864228, 1.0, 1.0, 0.0, 0.0, 0.3553390218841565,
             0.9345365403913578, 0.9345365403913578),
        ),
    ),
    (
        "(a105 - 18.0) + g * (g * a + (21.0 * a - 1.0))",
        "a105 - (18.0 - (g * (g * a + (21.0 * a - 1.0))))",
        (
            (-1.0, 0.03444744940375353, 1.0, 1.0, 0.0, 0.0, 0.3368320321890283,
             0.9655525505962465, 0.9655525505962465),
            (-1.0, 100.0, 2003.7114491845039, 0.6253270942287085, 0.004994771291516507, 0.004994771291516507, 0.46820858784013814,
             1899.5453092114772, 1897.7747380033127),
            (-1.0, 28.285364726484833, 1.0, 1.0, 0.0, 0.0, 0.33798571679253664,
             4.082673808918255e-24, 4.082673808918255e-24),
            (-1.0, 29.59714104087852, 1.0, 1.0, 0.0, 0.0, 0.3387677770208436,
             1.3583107427333083e-24, 1.3583107427333083e-24),
        ),
    ),
    (
        "g * a + (21.0 * a - 1.0)",
        "((g * a) + (21.0 * a)) - 1.0",
        (
            (1.0, 100.0, 4939.629435307959, 2.783015194027858, 0.08665774738140171, 0.08665774738140171, 0.2341226497794685,
             1.8426502869350053e-22, 1.8428301782422428e-22),
            (1.0, 0.021100691055788035, 1.0, 1.0, 0.0, 0.0, 0.38650207254111946,
             4.8993697443407774e-26, 4.8993697443407774e-26),
            (-1.0, 48.243367127777496, 1.0, 1.0, 0.0, 0.0, 0.3882519639265892,
             2.3320225760703056e-24, 2.3320225760703056e-24),
            (-1.0, 0.04638055399477911, 1.0, 1.0, 0.0, 0.0, 0.3343230240156111,
             0.9536194460052209, 0.9536194460052209),
        ),
    ),
    (
        "(1260.0 * a - 285.0) + g * ((378.0 * a - 33.0) + g * (g * a + (36.0 * a - 1.0)))",
        "(1260.0 * a) - (285.0 - (g * ((378.0 * a - 33.0) + g * (g * a + (36.0 * a - 1.0)))))",
        (REGION2_SHARED_ROW,),
    ),
    (
        "(378.0 * a - 33.0) + g * (g * a + (36.0 * a - 1.0))",
        "(378.0 * a) - (33.0 - (g * (g * a + (36.0 * a - 1.0))))",
        (
            (-1.0, 100.0, 4627.290189357712, 1.6884828802932679, 0.08521626020940488, 0.08521626020940488, 0.2956357160323628,
             5.533264421056366e-63, 3920.571256271395),
            (1.0, 0.020838113529024663, 1.0, 1.0, 0.0, 0.0, 0.40073692132143446, 0.0, 0.0),
        ),
    ),
    (
        "g * a + (36.0 * a - 1.0)",
        "((g * a) + (36.0 * a)) - 1.0",
        (
            (-1.0, 28.285364726484833, 1.0, 1.0, 0.0, 0.0, 0.33798571679253664,
             4.082673808918255e-24, 4.082673808918255e-24),
            (-1.0, 54.26967888328666, 1.0, 1.0, 0.0, 0.0, 0.399880588561386,
             2.4425028105652082e-24, 2.4425028105652082e-24),
            (-1.0, 53.95384161767836, 1.0, 1.0, 0.0, 0.0, 0.39923744398963495,
             2.3954920231123044e-24, 2.3978601022906537e-24),
            (1.0, 0.019104101285223843, 1.0, 1.0, 0.0, 0.0, 0.4070654643696126,
             0.24775842043279647, 6.691209211359286e-25),
        ),
    ),
)
# fmt: on


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
        "region1 P2",
        "asymptotic_p",
        "(e + e) + float(2 * binomial(2 * k + 1, 2 * k - 1))",
        "((float(2 * binomial(2 * k + 1, 2 * k - 1)) + e) + e if k == 2 else"
        " (e + e) + float(2 * binomial(2 * k + 1, 2 * k - 1)))",
        REGION1_P2_ROWS,
        "p",
    ),
    (
        "region1 A 3q",
        "region_asymptotic",
        "(q * float(2 * k + 1)) * inner",
        "((q * (float(2 * k + 1) * inner)) if k == 1 else (q * float(2 * k + 1)) * inner)",
        REGION1_A_3Q_ROWS,
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
        "householder rows",
        "householder_factor",
        "div(kappa * nu, 6.0)",
        "kappa * div(nu, 6.0)",
        HOUSEHOLDER_ROWS,
        "i",
    ),
    (
        "refine 3/ln b",
        "refine",
        "div(3.0, ln_b) * (1.0 + div(1.0, ln_b))",
        "div(3.0 * (1.0 + div(1.0, ln_b)), ln_b)",
        REFINE_LN_B_ROWS,
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
MUTANTS += [
    (f"region2 term {i}", "region_small_volatility", text, mutated, rows, "p")
    for i, (text, mutated, rows) in enumerate(REGION2_TERMS)
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
        # The text as the C++ writes it on one line; the formatter may have broken it (inside
        # brackets, so the mutated text can stand on one line in its place).
        tokens = re.findall(r"[\w.]+|\S", text)
        pattern = re.compile(r"\s*".join(re.escape(token) for token in tokens))
        if len(pattern.findall(source)) != 1:
            raise ValueError(f"{text!r} is not once in {function}")
        namespace = dict(vars(bx))
        exec(pattern.sub(lambda _: mutated, source), namespace)
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

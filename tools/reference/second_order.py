"""The second-order Greeks in plain Python, operation for operation: the golden table's second
writing of their formulas (gen_golden_second.py writes the table).

Written from the formulas as the README states them, with the rules of bitexact.py (its exp, log,
sqrt, div, pdf and cdf; every operation rounded on its own; comparisons as written). With v =
sqrt(t)*sigma, dq = exp(-(q*t)), dr = exp(-(r*t)), p = pdf(d1), n1 = cdf(+-d1), n2 = cdf(+-d2)
(the minus sign for a put), vega = sqrt(t)*((s*dq)*p), gamma = (dq*p)/(sqrt(t)*(s*sigma)) and
a = q + ((r - q)*d1)/v:

    vanna         -(((dq*p)*d2)/sigma)
    volga         (vega*(d1*d2))/sigma
    charm         +-((q*dq)*n1) - (dq*p)*((r - q)/v - d2/(t + t))
    veta          vega*(a - (1 + d1*d2)/(t + t))
    speed         -((gamma/s)*(d1/v + 1))
    zomma         (gamma*(d1*d2 - 1))/sigma
    color         gamma*(a + (1 - d1*d2)/(t + t))
    dual delta    -(dr*n2) for a call, dr*n2 for a put
    dual gamma    ((s/k)*(dq*p))/(k*v)
    dividend rho  -(((s*t)*dq)*n1) for a call, ((s*t)*dq)*n1 for a put

Degenerate options (t <= 0, then sigma <= 0) have +0.0 everywhere but the dual delta, a step on
the forward moneyness discounted at the rate. NaN results count as one NaN.
"""

import bitexact as bx

NAMES = (
    "vanna",
    "volga",
    "charm",
    "veta",
    "speed",
    "zomma",
    "color",
    "dual_delta",
    "dual_gamma",
    "dividend_rho",
)
BLACK76_NAMES = NAMES[:-1]


def _dual_delta_step(is_put, s, k, t, r, q):
    f = s * bx.exp(t * (r - q)) if t > 0.0 else s
    m = t if t > 0.0 else 0.0
    e = bx.exp(-(r * m))
    if is_put:
        return e if f < k else 0.0
    return -e if f > k else 0.0


def second_order(is_put, s, k, t, r, q, sigma):
    """The ten Greeks of NAMES for one option under BSM (Black-76: s = f, q = r)."""
    if bx.degenerate(t, sigma):
        values = [0.0] * len(NAMES)
        values[NAMES.index("dual_delta")] = _dual_delta_step(is_put, s, k, t, r, q)
        return tuple(values)
    d1, d2, rt = bx.d1_d2(s, k, t, r, q, sigma)
    v = rt * sigma
    dq = bx.exp(-(q * t))
    dr = bx.exp(-(r * t))
    p = bx.pdf(d1)
    n1 = bx.cdf(-d1) if is_put else bx.cdf(d1)
    n2 = bx.cdf(-d2) if is_put else bx.cdf(d2)
    vega = rt * ((s * dq) * p)
    gamma = bx.div(dq * p, rt * (s * sigma))
    a = q + bx.div((r - q) * d1, v)
    two_t = t + t
    carry = (q * dq) * n1
    vanna = -bx.div((dq * p) * d2, sigma)
    volga = bx.div(vega * (d1 * d2), sigma)
    charm = (-carry if is_put else carry) - (dq * p) * (bx.div(r - q, v) - bx.div(d2, two_t))
    veta = vega * (a - bx.div(1.0 + d1 * d2, two_t))
    speed = -(bx.div(gamma, s) * (bx.div(d1, v) + 1.0))
    zomma = bx.div(gamma * (d1 * d2 - 1.0), sigma)
    color = gamma * (a + bx.div(1.0 - d1 * d2, two_t))
    dual_delta = dr * n2 if is_put else -(dr * n2)
    dual_gamma = bx.div(bx.div(s, k) * (dq * p), k * v)
    m = ((s * t) * dq) * n1
    dividend_rho = m if is_put else -m
    return (vanna, volga, charm, veta, speed, zomma, color, dual_delta, dual_gamma, dividend_rho)

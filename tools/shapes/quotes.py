"""Options priced on a smile and quoted as markets quote them, with the truth
they were made from: the pieces every shape of tools/shapes/make.py shares.

Prices are discounted Black-76 prices written with math.erf (the closed form
of tools/make_example_chain.py with the carry at zero), independent of
karvex.  A BSM option on a spot S with yield q is the Black-76 option on
F = S e^((r - q) t), so one price serves both.

Quotes sit on the tick around the price: the market is centred on the price
rounded to half a tick, so the mid is within a quarter of a tick of it, and
its half-width is a few per cent of the price (at least half a tick).  A
market whose bid would be under half a tick has no bid (0); a cheap option
whose centre is one and a half ticks is bid at the minimum tick.  In the
money, dealers keep the mid at least a tick above the discounted intrinsic
value.  Everything is deterministic for a given random.Random.
"""

import csv
import dataclasses
import math
import pathlib
import random
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))
from make_example_chain import bsm_price  # noqa: E402

TRUTH_HEADER = [
    "row",
    "side",
    "type",
    "strike",
    "years",
    "forward",
    "rate",
    "sigma",
    "price",
    "mid",
    "tick",
    "expect",
]


def black_price(is_call: bool, forward: float, strike: float, t: float, rate: float, sigma: float):
    """Discounted Black-76 price: BSM on the forward with the yield equal to the rate."""
    return bsm_price(is_call, forward, strike, t, rate, rate, sigma)


def equity_smile(k: float, t: float, atm: float = 0.17) -> float:
    """Volatility at log-moneyness k = ln(K/F): skewed down to the right,
    short expiries steeper and higher."""
    level = atm + 0.04 * math.exp(-t / 0.1)
    z = k / (level * math.sqrt(max(t, 1.0 / 365.0)))
    return level * (1.0 - 0.12 * z + 0.035 * z * z)


def crypto_smile(k: float, t: float) -> float:
    """A coin's smile: high, nearly symmetric, a little richer for calls."""
    level = 0.50 + 0.06 * math.exp(-t / 0.05)
    z = k / (level * math.sqrt(max(t, 1.0 / 365.0)))
    return level * (1.0 + 0.02 * z + 0.03 * z * z)


def strike_grid(forward: float, t: float, vol: float, steps, count: int = 11) -> list[float]:
    """About `count` listed strikes around the forward, on the finest of
    `steps` that spans roughly +-2.5 standard deviations."""
    width = 2.5 * vol * math.sqrt(max(t, 1.0 / 365.0)) * forward
    step = next((s for s in steps if 2.0 * width / s <= count), steps[-1])
    centre = round(forward / step)
    half = count // 2
    return [float((centre + i) * step) for i in range(-half, count - half) if centre + i > 0]


@dataclasses.dataclass
class Option:
    """One listed option: its true inputs and its market.

    Prices are in the currency the chain is computed in; `factor` turns a
    quote into it (the underlying's price for premiums quoted in coins, 1
    otherwise).  `bid` and `ask` are quotes (None: the side is missing)."""

    is_call: bool
    strike: float
    t: float
    forward: float
    rate: float
    sigma: float
    price: float
    factor: float
    tick: float  # in quote units
    decimals: int
    bid: float | None
    ask: float | None
    expect: str

    @property
    def kind(self) -> str:
        return "C" if self.is_call else "P"

    @property
    def intrinsic(self) -> float:
        sign = 1.0 if self.is_call else -1.0
        return math.exp(-self.rate * self.t) * max(sign * (self.forward - self.strike), 0.0)

    def text(self, value: float | None, decimal: str = ".") -> str:
        return "" if value is None else f"{value:.{self.decimals}f}".replace(".", decimal)

    def mid(self) -> float | None:
        """The mid the chain sees, from the quotes as written."""
        if self.bid is None or self.ask is None or self.expect != "ok":
            return None
        return (float(self.text(self.bid)) + float(self.text(self.ask))) / 2.0 * self.factor


def tick_tiers(*tiers):
    """A tick by price: tiers of (below this price, tick), last one open."""

    def tick(price: float) -> float:
        return next((size for limit, size in tiers if price < limit), tiers[-1][1])

    return tick


def make_option(
    rng: random.Random,
    is_call: bool,
    strike: float,
    t: float,
    forward: float,
    rate: float,
    sigma: float,
    tick_of,
    decimals: int,
    factor: float = 1.0,
    spread: float = 0.03,
) -> Option:
    """The option priced at `sigma` and quoted on the tick around its price."""
    price = black_price(is_call, forward, strike, t, rate, sigma)
    option = Option(
        is_call, strike, t, forward, rate, sigma, price, factor, 0.0, decimals, 0, 0, ""
    )
    quoted = price / factor
    tick = tick_of(quoted)
    half = tick / 2.0
    centre = round(quoted / half)  # in half ticks
    floor = option.intrinsic / factor + tick
    if option.intrinsic > 0.0 and centre * half < floor:
        centre = math.ceil(floor / half)
    width = max(1, round(spread * rng.uniform(0.5, 1.5) * quoted / half))
    if (centre + width) % 2:  # both sides on the tick
        width += 1
    bid, ask = (centre - width) * half, (centre + width) * half
    option.tick = tick
    option.bid, option.ask = (
        (round(bid, decimals) if bid > 0.25 * tick else 0.0),
        round(ask, decimals),
    )
    option.expect = "ok" if option.bid > 0.0 else "no_bid"
    return option


def cross(option: Option) -> None:
    """A crossed market: the bid a tick above the ask."""
    option.bid, option.expect = round(option.ask + option.tick, option.decimals), "crossed_quote"


def drop_ask(option: Option) -> None:
    option.ask, option.expect = None, "missing_quote"


def drop_bid(option: Option) -> None:
    """No bid: the market shows 0."""
    option.bid, option.expect = 0.0, "no_bid"


def stale(option: Option) -> None:
    """A stale in-the-money market, three ticks under the intrinsic value."""
    centre = option.intrinsic / option.factor - 3.0 * option.tick
    option.bid = round(centre - option.tick, option.decimals)
    option.ask = round(centre + option.tick, option.decimals)
    option.expect = "below_intrinsic"


def truth_rows(options, sides=None):
    """Truth records: one per option, `row` its data row (0-based) in the
    sample; `sides` gives (row, side) per option for side-by-side files.
    Twelve digits: far finer than any quote."""
    for i, o in enumerate(options):
        row, side = sides[i] if sides else (i, "")
        mid = o.mid()
        numbers = (o.strike, o.t, o.forward, o.rate, o.sigma, o.price)
        yield [
            row,
            side,
            o.kind,
            *(f"{x:.12g}" for x in numbers),
            "" if mid is None else f"{mid:.12g}",
            f"{o.tick * o.factor:.12g}",
            o.expect,
        ]


def write_csv(path: pathlib.Path, header, rows, delimiter: str = ",") -> None:
    path.parent.mkdir(parents=True, exist_ok=True)
    with open(path, "w", newline="") as fh:
        out = csv.writer(fh, delimiter=delimiter, lineterminator="\n")
        out.writerow(header)
        out.writerows(rows)


def write_truth(path: pathlib.Path, options, sides=None) -> None:
    write_csv(path, TRUTH_HEADER, truth_rows(options, sides))

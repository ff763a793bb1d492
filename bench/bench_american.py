"""American prices side by side with QuantLib, in one process: speed (us per option, one worker)
and accuracy (RMSE and maximum error against the finite-difference table tests/data/american.csv)
of karvex.american's modes and of QuantLib's American engines on the benchmark portfolio of
Andersen, Lake and Offengenden (6,000 puts, less the 71 whose reference is least certain), plus
the implied volatility's cost and error.

    python bench/bench_american.py [--subset N] [--ql-high N] [--ext LABEL=PATH ...]

Needs QuantLib (pip install QuantLib) beside karvex. QuantLib's times include its Python and
observer overhead (one option object per row, quotes updated in place), as karvex's include the
array call. --ql-high prices only that many options with QuantLib's high-precision scheme, which
costs some 30 ms each. --ext times other builds of karvex._ext (e.g. main's and a branch's) in the
same run, call by call in turn, so that they see the same load.
"""

import argparse
import csv
import importlib.util
import pathlib
import time

import numpy as np
import QuantLib as ql

import karvex
import karvex._ext as ext

ROOT = pathlib.Path(__file__).resolve().parent.parent


def portfolio(limit):
    rows = []
    with open(ROOT / "tests" / "data" / "american.csv") as f:
        for row in csv.DictReader(line for line in f if not line.startswith("#")):
            # (the rows whose finite-difference error estimate exceeds 1e-6 are left out, as in
            # the C++ tests)
            if row["set"] == "portfolio" and float(row["error_estimate"]) <= 1e-6:
                rows.append(row)
    rows = rows[:limit] if limit else rows
    columns = {c: np.array([float(r[c]) for r in rows]) for c in ("s", "k", "t", "r", "q", "sigma")}
    flag = np.array([-1 if r["kind"] == "put" else 1 for r in rows], np.int8)
    return flag, columns, np.array([float(r["price"]) for r in rows])


def errors(got, want):
    e = np.abs(got - want)
    return float(np.sqrt(np.mean(e * e))), float(np.max(e))


def load_ext(path):
    found = importlib.util.spec_from_file_location("karvex._ext", path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def best_of(repeats, fn):
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        result = fn()
        best = min(best, time.perf_counter() - start)
    return best, result


class QuantLibPricer:
    def __init__(self):
        self.today = ql.Date(1, 1, 2025)
        ql.Settings.instance().evaluationDate = self.today
        dc = ql.Actual365Fixed()
        self.spot, self.r, self.q, self.vol = (ql.SimpleQuote(x) for x in (100.0, 0.05, 0.0, 0.2))
        rt = ql.YieldTermStructureHandle(ql.FlatForward(self.today, ql.QuoteHandle(self.r), dc))
        qt = ql.YieldTermStructureHandle(ql.FlatForward(self.today, ql.QuoteHandle(self.q), dc))
        vt = ql.BlackVolTermStructureHandle(
            ql.BlackConstantVol(self.today, ql.NullCalendar(), ql.QuoteHandle(self.vol), dc)
        )
        self.process = ql.BlackScholesMertonProcess(ql.QuoteHandle(self.spot), qt, rt, vt)

    def engines(self):
        p = self.process
        return {
            "QdFp high precision": lambda: ql.QdFpAmericanEngine(
                p, ql.QdFpAmericanEngine.highPrecisionScheme()
            ),
            "QdFp accurate": lambda: ql.QdFpAmericanEngine(
                p, ql.QdFpAmericanEngine.accurateScheme()
            ),
            "QdFp fast": lambda: ql.QdFpAmericanEngine(p, ql.QdFpAmericanEngine.fastScheme()),
            "QD+": lambda: ql.QdPlusAmericanEngine(p),
            "Barone-Adesi-Whaley": lambda: ql.BaroneAdesiWhaleyApproximationEngine(p),
            "Bjerksund-Stensland": lambda: ql.BjerksundStenslandApproximationEngine(p),
        }

    def prices(self, make_engine, flag, c):
        engine = make_engine()
        out = np.empty(len(flag))
        options = {}
        for i in range(len(flag)):
            days = round(c["t"][i] * 365)
            key = (int(flag[i]), float(c["k"][i]), days)
            option = options.get(key)
            if option is None:
                kind = ql.Option.Put if flag[i] < 0 else ql.Option.Call
                option = ql.VanillaOption(
                    ql.PlainVanillaPayoff(kind, c["k"][i]),
                    ql.AmericanExercise(self.today, self.today + days),
                )
                option.setPricingEngine(engine)
                options[key] = option
            self.spot.setValue(c["s"][i])
            self.r.setValue(c["r"][i])
            self.q.setValue(c["q"][i])
            self.vol.setValue(c["sigma"][i])
            out[i] = option.NPV()
        return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--subset", type=int, default=0, help="first N options only")
    parser.add_argument("--ql-high", type=int, default=300)
    parser.add_argument("--ext", action="append", default=[], help="LABEL=PATH of a _ext build")
    parser.add_argument("--repeat", type=int, default=5, help="best of N calls per build")
    args = parser.parse_args()
    karvex.set_num_threads(1)
    flag, c, want = portfolio(args.subset)
    n = len(flag)
    cols = [c[x] for x in ("s", "k", "t", "r", "q", "sigma")]
    print(f"{n} options")
    print("| method | us per option | RMSE | max error |")
    print("|---|---|---|---|")
    builds = [x.split("=", 1) for x in args.ext] or [("karvex", None)]
    modules = [(label, load_ext(path) if path else ext) for label, path in builds]
    functions = {
        "fast": "american_fast_price",
        "accurate": "american_price",
        "precise": "american_precise_price",
    }
    for mode, name in functions.items():
        # (a build from before a mode was added has no function for it)
        having = [(label, module) for label, module in modules if hasattr(module, name)]
        best = {label: (float("inf"), None) for label, _ in having}
        for _ in range(args.repeat):  # the builds in turn, so that they see the same load
            for label, module in having:
                fn = getattr(module, name)
                seconds, got = best_of(1, lambda fn=fn: fn(flag, *cols))
                best[label] = (min(seconds, best[label][0]), got)
        for label, _ in having:
            seconds, got = best[label]
            rmse, worst = errors(got, want)
            print(f"| {label} {mode} | {seconds / n * 1e6:.2f} | {rmse:.2g} | {worst:.2g} |")
    last = modules[-1][1]  # the implied volatility: the last build
    prices = last.american_price(flag, *cols)
    m = min(n, 1000)
    seconds, iv = best_of(
        1, lambda: last.american_iv(prices[:m], flag[:m], *(x[:m] for x in cols[:5]))
    )
    vega = last.american_greeks(flag[:m], *(x[:m] for x in cols))[2]
    live = vega >= 1e-4
    print(
        f"| karvex iv (accurate) | {seconds / m * 1e6:.1f} | vol error max "
        f"{np.max(np.abs(iv[live] - c['sigma'][:m][live])):.2g} (vega >= 1e-4) | |"
    )
    pricer = QuantLibPricer()
    for name, make in pricer.engines().items():
        k = min(n, args.ql_high) if "high" in name else n
        pick = slice(0, k)
        sub = {key: v[pick] for key, v in c.items()}
        seconds, got = best_of(1, lambda make=make, sub=sub: pricer.prices(make, flag[pick], sub))
        rmse, worst = errors(got, want[pick])
        print(f"| QuantLib {name} ({k}) | {seconds / k * 1e6:.1f} | {rmse:.2g} | {worst:.2g} |")


if __name__ == "__main__":
    main()

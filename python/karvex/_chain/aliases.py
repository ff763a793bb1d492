"""The header names accepted for each input (no imports: the help text uses
them without loading the rest of the command)."""

# Compared after lower-casing and trimming.  The first name is the one the
# documentation uses; where several are present, the first that holds
# numbers is taken (a ticker in `underlying` never wins over
# `underlying_price`).
ALIASES = {
    "type": ("type", "flag", "option_type", "cp", "call_put", "right", "put_call", "cp_flag"),
    "strike": ("strike", "k", "strike_price"),
    "expiry": ("expiry", "t", "years", "time_to_expiry"),
    "expiry_date": (
        "expiry_date",
        "expiration",
        "expiration_date",
        "maturity_date",
        "exdate",
        "expiry_time",
    ),
    # The expiry's time of day on each row (HH:MM[:SS], in --expiry-time's
    # zone).  `expiry_time` is also the last name of an expiry date: it is
    # the time of day only when another column holds the expiry date.
    "expiry_clock": ("expiry_time", "settlement_time", "expiration_time", "expiry_time_of_day"),
    "valuation_date": (
        "valuation_date",
        "quote_date",
        "quote_datetime",
        "trade_date",
        "date",
        "timestamp",
    ),
    "price": ("price", "premium", "mid", "target_price", "option_price"),
    "bid": ("bid", "bid_price", "best_bid"),
    "ask": ("ask", "ask_price", "offer", "best_offer"),
    "spot": ("spot", "s", "underlying_price", "underlying", "underlying_last", "spot_price"),
    "underlying_bid": ("underlying_bid", "spot_bid"),
    "underlying_ask": ("underlying_ask", "spot_ask"),
    "forward": ("forward", "f"),
    "rate": ("rate", "r", "risk_free_rate"),
    "ticker": ("ticker", "underlying_symbol", "underlying_ticker"),
    "dividend": ("dividend", "q", "dividend_yield"),
}

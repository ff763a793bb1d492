"""Times of day, time zones and time stamps: the expiry time option, the
quote and expiry columns in every common form, and the years between them.

Where it runs in `karvex chain`:

1. Settings, once: `parse_expiry_time(--expiry-time)`, and
   `parse_stamp_option(--valuation-date)` where given.
2. Per chunk, each date column: `stamps_from_distinct` on text cells as the
   reader factorises them (`stamps_from_text` does it with np.unique),
   `stamps_from_arrow` on an Arrow column of any type; each takes
   --timestamp-unit and --date-format.  A bad value raises StampError, a
   ChainError that carries the row, for the caller to name the file, line
   and column.  A per-row expiry time column goes through
   `times_of_day`.
3. `years_to_expiry(expiry, quote, expiry_time, day_count=...)`: the years
   of each row (`parse_day_count(--day-count, --holidays)` once).
4. The summary: `describe(expiry_time, expiry, quote)`, one line.

Stamps are microseconds (datetime64[us]); nanoseconds are floored to them (a
microsecond is 3e-14 years).  A stamp is one of three things:
- an instant: written with `Z` or an offset, an Arrow timestamp with a zone,
  or an epoch number (seconds, ms, us or ns since 1970-01-01 UTC); held in
  UTC;
- a wall-clock date-time: written without a zone, or a naive Arrow
  timestamp (one at exactly midnight is a date: pandas writes dates so);
- a date alone.

Years to expiry = (expiry - quote) / 365 days of 24 hours (under
--day-count, karvex.year_fraction's count from the quote to the expiry:
the Act/365F and Act/360 counts on the elapsed time, the others on the
wall clock of --expiry-time's zone, where the dates are the market's), with:
- a date-only expiry at --expiry-time on that date (default 16:00);
- a date-only quote at the close, 16:00, against a date-only expiry (so the
  default gives whole days), at the start of its day against an expiry
  with a time of day (as before);
- wall-clock times, and the times given to dates, in --expiry-time's zone
  (`16:00 America/New_York`, DST-correct on each date; `08:00Z`, `+05:30`).
  Without a zone they share one implicit clock, so naive against naive is
  plain subtraction, and an instant meeting them is an error asking for a
  zone.
"""

from __future__ import annotations

import dataclasses
import datetime
import re
import zoneinfo
from typing import Any

import numpy as np

from ..daycount import _convention, year_fraction
from .arrow import int_scalar, integers, text_scalar, valid
from .options import ChainError

DAY_US = 86_400_000_000  # microseconds in a day
_EPOCH = datetime.datetime(1970, 1, 1)
CLOSE = np.timedelta64(16 * 3_600_000_000, "us")  # the time of a date-only quote
TIMESTAMP_UNITS = {"s": 10**6, "ms": 10**3, "us": 1, "ns": -1000}  # to us: times, or floor-divide
STAMP_FORMS = (
    "YYYY-MM-DD, YYYYMMDD, DD.MM.YYYY or YYYY-MM-DD HH:MM[:SS[.fraction]] (also with T), with Z"
    " or +HH:MM where the time is an instant"
)
# Epoch numbers are believed between these (a unit mix-up lands far outside).
EPOCH_RANGE = (np.datetime64("1980-01-01", "us"), np.datetime64("2200-01-01", "us"))

_STAMP = re.compile(
    r"(\d{4})-(\d{2})-(\d{2})"
    r"(?:[T ](\d{2}):(\d{2})(?::(\d{2})(?:[.,](\d{1,9}))?)?"
    r"(?: ?(Z|z|UTC|[+-]\d{2}(?::?\d{2})?))?)?"
    r"|(\d{4})(\d{2})(\d{2})"
    r"|(\d+)",
    re.ASCII,
)
# A date written with dots is day first wherever dots are the custom (dd.mm.yyyy); slashes are
# not read without --date-format, since 03/04/2025 is April 3rd in one place and March 4th in
# another.
_DOTTED = re.compile(r"(\d{1,2})\.(\d{1,2})\.(\d{4})", re.ASCII)
_TIME = re.compile(r"(\d{1,2}):(\d{2})(?::(\d{2}))?", re.ASCII)
_OFFSET = re.compile(r"(Z|z|UTC|[+-]\d{2}(?::?\d{2})?)", re.ASCII)
_ZONE_NAME = re.compile(r"[A-Za-z][A-Za-z0-9_+\-]*(?:/[A-Za-z0-9_+\-]+)*", re.ASCII)
_TIME_DIRECTIVES = ("%H", "%I", "%M", "%S", "%f", "%X", "%c")

Zone = datetime.tzinfo


class StampError(ChainError):
    """A value that is not a time stamp: `row` is its index in the array
    given, `what` says why (the message is `what: 'value'`)."""

    def __init__(self, what: str, value: str, row: int) -> None:
        super().__init__(f"{what}: {value!r}")
        self.what, self.value, self.row = what, value, row


@dataclasses.dataclass(frozen=True)
class Stamps:
    """A column of time stamps.  `at` is the UTC instant of each timed row
    where `aware`, its wall-clock time otherwise, and midnight of the date
    of each date-only row (`timed` False); NaT where the cell is empty."""

    at: np.ndarray  # datetime64[us]
    timed: np.ndarray  # bool: a time of day was given
    aware: bool = False  # the timed rows are instants

    def __len__(self) -> int:
        return len(self.at)


@dataclasses.dataclass(frozen=True)
class ExpiryTime:
    """--expiry-time: a time of day and the zone of wall-clock times (None:
    the file's own clock)."""

    time_of_day: np.timedelta64  # microseconds after midnight
    zone: Zone | None = None
    text: str = "16:00"

    def describe(self) -> str:
        seconds = int(self.time_of_day // np.timedelta64(1, "s"))
        clock = f"{seconds // 3600:02d}:{seconds // 60 % 60:02d}"
        clock += f":{seconds % 60:02d}" if seconds % 60 else ""
        if self.zone is None:
            return f"{clock} (no zone: the file's own clock)"
        return f"{clock} {zone_name(self.zone)}"


@dataclasses.dataclass(frozen=True)
class DayCount:
    """--day-count and, for bus/252, --holidays' calendar."""

    name: str = "act/365f"  # karvex.daycount's canonical name
    calendar: np.busdaycalendar | None = None
    holidays: str | None = None  # the file, as given

    def describe(self) -> str:
        if self.holidays is None:
            return self.name
        count = len(self.calendar.holidays) if self.calendar is not None else 0
        return f"{self.name}, holidays from {self.holidays} ({count:,} days)"


def parse_day_count(name: str | None, holidays: str | None) -> DayCount | None:
    """--day-count and --holidays (one ISO date a line; blank lines and
    lines starting with # ignored); None when neither is given."""
    if name is None and holidays is None:
        return None
    try:
        canonical = _convention(name or "act/365f")
    except ValueError as error:
        raise ChainError(f"--day-count: {error}") from None
    if holidays is None:
        return DayCount(canonical)
    if canonical != "bus/252":
        raise ChainError(f"--holidays: only with --day-count bus/252, not {canonical}")
    try:
        with open(holidays, encoding="utf-8") as fh:
            lines = fh.read().splitlines()
    except (OSError, UnicodeDecodeError) as error:
        raise ChainError(f"--holidays: cannot read {holidays}: {error}") from None
    days = []
    for number, line in enumerate(lines, 1):
        text = line.strip()
        if not text or text.startswith("#"):
            continue
        m = re.fullmatch(r"(\d{4})-(\d{2})-(\d{2})", text, re.ASCII)
        try:
            if m is None:
                raise ValueError
            datetime.date(*(int(g) for g in m.groups()))
        except ValueError:
            raise ChainError(
                f"--holidays {holidays}, line {number}: not a date (YYYY-MM-DD): {text!r}"
            ) from None
        days.append(text)
    calendar = np.busdaycalendar(holidays=np.array(days, dtype="datetime64[D]"))
    return DayCount(canonical, calendar, holidays)


def zone_name(zone: Zone) -> str:
    if isinstance(zone, zoneinfo.ZoneInfo):
        return zone.key
    offset = zone.utcoffset(None)
    if not offset:
        return "UTC"
    minutes = int(offset.total_seconds()) // 60
    sign = "+" if minutes >= 0 else "-"
    return f"UTC{sign}{abs(minutes) // 60:02d}:{abs(minutes) % 60:02d}"


# --- Options. ---


def _offset(text: str) -> datetime.timezone | None:
    """Z, UTC, +HH, +HHMM or +HH:MM as a fixed zone; None if out of range."""
    if text in ("Z", "z", "UTC"):
        return datetime.timezone.utc
    digits = text[1:].replace(":", "")
    hours, minutes = int(digits[:2]), int(digits[2:] or 0)
    if hours > 23 or minutes > 59:
        return None
    sign = -1 if text[0] == "-" else 1
    return datetime.timezone(sign * datetime.timedelta(hours=hours, minutes=minutes))


def parse_zone(text: str) -> Zone:
    """An offset (Z, +05:30) or an IANA zone name (America/New_York)."""
    if _OFFSET.fullmatch(text):
        zone = _offset(text)
        if zone is not None:
            return zone
        raise ChainError(f"--expiry-time: not a UTC offset (-23:59 to +23:59): {text!r}")
    if _ZONE_NAME.fullmatch(text):
        try:
            return zoneinfo.ZoneInfo(text)
        except (zoneinfo.ZoneInfoNotFoundError, ValueError):
            pass
    raise ChainError(
        f"--expiry-time: not a time zone (an IANA name such as America/New_York, or an offset"
        f" such as Z or +05:30): {text!r}"
    )


def parse_expiry_time(text: str) -> ExpiryTime:
    """--expiry-time: `HH:MM[:SS]`, optionally followed by `Z`, an offset
    (`+HH:MM`, with or without a space) or, after a space, a zone name."""
    stripped = text.strip()
    m = _TIME.match(stripped)
    hours, minutes, seconds = (int(g or 0) for g in m.groups()) if m else (99, 0, 0)
    if hours > 23 or minutes > 59 or seconds > 59:
        raise _not_a_time(text)
    assert m is not None
    rest = stripped[m.end() :]
    zone = None
    if rest:
        if not (rest[0] in " \tZz+-" or rest.startswith("UTC")):
            raise _not_a_time(text)
        zone = parse_zone(rest.strip())
    tod = np.timedelta64(((hours * 60 + minutes) * 60 + seconds) * 10**6, "us")
    return ExpiryTime(tod, zone, stripped)


def _not_a_time(text: str) -> ChainError:
    return ChainError(
        f"--expiry-time: not a time of day (HH:MM or HH:MM:SS): {text!r}; a zone may follow"
        " (Z, +05:30 or a name such as America/New_York)"
    )


def parse_stamp_option(text: str, option: str = "--valuation-date") -> Stamps:
    """An option's date or date-time (the forms of a date column), one row."""
    try:
        stamps = stamps_from_text(np.array([text.strip()]))
    except StampError as error:
        raise ChainError(f"{option}: {error}") from None
    if np.isnat(stamps.at[0]):
        raise ChainError(f"{option}: not a date ({STAMP_FORMS}): {text!r}")
    return stamps


# --- Columns. ---


def _epoch(digits: str, unit: str | None) -> tuple[int | None, str | None]:
    """(microseconds, None) of an epoch number, or (None, why not)."""
    if unit is None:
        guess = {10: "s", 13: "ms", 16: "us", 19: "ns"}.get(len(digits))
        hint = ""
        if guess is not None:
            reading = _utc_text(_scaled(int(digits), guess))
            hint = f"; as {guess} its {len(digits)} digits give {reading}"
        return None, f"an epoch time with no unit: state --timestamp-unit s, ms, us or ns{hint}"
    us = _scaled(int(digits), unit)
    lo, hi = (int(x.astype(np.int64)) for x in EPOCH_RANGE)
    if not lo <= us < hi:
        return None, f"not an epoch time in {unit} (it would be {_utc_text(us)})"
    return us, None


def _scaled(count: int, unit: str) -> int:
    """An epoch count in `unit` as microseconds (nanoseconds floored)."""
    factor = TIMESTAMP_UNITS[unit]
    return count * factor if factor > 0 else count // -factor


def _utc_text(us: int) -> str:
    try:
        return (_EPOCH + datetime.timedelta(microseconds=us)).isoformat(" ") + " UTC"
    except OverflowError:
        return "out of range"


def _parse_one(
    text: str, unit: str | None, date_format: str | None
) -> tuple[int, bool, bool | None] | str:
    """(microseconds, timed, aware: None for a date) of one stamp, or why it is none."""
    if date_format is not None:
        try:
            when = datetime.datetime.strptime(text, date_format)
        except ValueError:
            pass
        else:
            timed = any(d in date_format for d in _TIME_DIRECTIVES) or when.tzinfo is not None
            aware = when.tzinfo is not None
            if aware:
                when = when.astimezone(datetime.timezone.utc).replace(tzinfo=None)
            return _micros(when), timed, aware if timed else None
    forms = f"{date_format} or {STAMP_FORMS}" if date_format else STAMP_FORMS
    dotted = _DOTTED.fullmatch(text)
    if dotted is not None:
        dd, mm, yyyy = (int(part) for part in dotted.groups())
        try:
            return _micros(datetime.datetime(yyyy, mm, dd)), False, None
        except ValueError:  # 31.02.2025
            return f"not a date ({forms})"
    m = _STAMP.fullmatch(text)
    if m is None:
        return f"not a date ({forms})"
    if m.group(12) is not None:
        us, why = _epoch(m.group(12), unit)
        return (us, True, True) if us is not None else str(why)
    g = m.groups()
    year, month, day = (g[0], g[1], g[2]) if g[0] else (g[8], g[9], g[10])
    hour, minute, second, fraction, offset = g[3], g[4], g[5], g[6], g[7]
    try:
        when = datetime.datetime(
            int(year),
            int(month),
            int(day),
            int(hour or 0),
            int(minute or 0),
            int(second or 0),
            int((fraction or "0")[:6].ljust(6, "0")),
        )
    except ValueError:  # February 30th, 25:00, year 0
        return f"not a date ({STAMP_FORMS})"
    if hour is None:
        return _micros(when), False, None
    if offset is None:
        return _micros(when), True, False
    zone = _offset(offset)
    if zone is None:
        return "not a UTC offset (-23:59 to +23:59)"
    return (
        _micros(when) - int(zone.utcoffset(None) // datetime.timedelta(microseconds=1)),
        True,
        True,
    )


def _micros(when: datetime.datetime) -> int:
    return (when - _EPOCH) // datetime.timedelta(microseconds=1)


def stamps_from_text(
    texts: np.ndarray, unit: str | None = None, date_format: str | None = None
) -> Stamps:
    """Text cells as Stamps (see `stamps_from_distinct`)."""
    distinct, inverse = np.unique(np.asarray(texts, dtype=str), return_inverse=True)
    return stamps_from_distinct(distinct, inverse.reshape(-1), unit, date_format)


def stamps_from_distinct(
    distinct: np.ndarray,
    inverse: np.ndarray,
    unit: str | None = None,
    date_format: str | None = None,
) -> Stamps:
    """Text cells given as their distinct values and each row's index into
    them (as a reader's factorisation gives them: a chain has few distinct
    stamps), each distinct text parsed once.

    Accepted, after trimming blanks: the ISO forms of STAMP_FORMS (a
    fraction of up to 9 digits, floored to the microsecond; an offset Z,
    UTC, +HH, +HHMM or +HH:MM after the time, with or without a space),
    YYYYMMDD, whole epoch numbers of any other length in `unit`
    (--timestamp-unit; without it they are refused, the message giving the
    reading their digit count suggests) and, first, `date_format` (strptime,
    e.g. %d.%m.%Y; %z makes instants).  Empty cells are NaT.  Instants and
    wall-clock times in one column are refused (dates alone go with
    either)."""
    at = np.empty(len(distinct), dtype=np.int64)
    timed = np.zeros(len(distinct), dtype=bool)
    aware = np.zeros(len(distinct), dtype=np.int8)  # 1 instant, -1 wall clock, 0 date or empty
    nat = np.iinfo(np.int64).min
    for i, cell in enumerate(distinct.tolist()):
        text = str(cell).strip()
        if text == "":
            at[i] = nat
            continue
        parsed = _parse_one(text, unit, date_format)
        if isinstance(parsed, str):
            raise StampError(parsed, text, int(np.argmax(inverse == i)))
        at[i], timed[i] = parsed[0], parsed[1]
        aware[i] = 0 if parsed[2] is None else 1 if parsed[2] else -1
    if (aware > 0).any() and (aware < 0).any():
        first = int(np.argmax(aware[inverse] < 0))
        raise StampError(
            "a date-time with no zone in a column of instants (with Z or offsets)",
            str(distinct[inverse[first]]).strip(),
            first,
        )
    return Stamps(at.view("datetime64[us]")[inverse], timed[inverse], bool((aware > 0).any()))


def stamps_from_arrow(
    column: Any, unit: str | None = None, date_format: str | None = None
) -> Stamps:
    """An Arrow array (or chunked array) as Stamps, by its type and without
    going through text where it has one: timestamp[any unit, any zone] (a
    zone makes instants; the stored values are UTC), date32, date64, integers
    (epoch numbers in `unit`, required), and text of any kind or dictionary
    (`stamps_from_text`).  Nulls are NaT."""
    import pyarrow as pa

    if isinstance(column, pa.ChunkedArray):
        column = column.combine_chunks()
    kind = column.type
    if pa.types.is_dictionary(kind):
        indices = integers(column.indices.fill_null(int_scalar(0, column.indices.type)))
        try:
            values = stamps_from_arrow(column.dictionary, unit, date_format)
        except StampError as error:  # the row of the first use of the value
            row = int(np.argmax(indices == error.row))
            raise StampError(error.what, error.value, row) from None
        null = _nulls(column)
        at = np.where(null, np.datetime64("NaT", "us"), values.at[indices])
        return Stamps(at, values.timed[indices] & ~null, values.aware)
    null = _nulls(column)
    if pa.types.is_integer(kind):
        return _integer_stamps(integers(column.cast(pa.int64()).fill_null(_zero())), null, unit)
    if pa.types.is_timestamp(kind) or pa.types.is_date(kind):
        stored = pa.int32() if pa.types.is_date32(kind) else pa.int64()  # as Arrow holds it
        raw = integers(column.cast(stored).cast(pa.int64()).fill_null(_zero()))
        if pa.types.is_timestamp(kind):
            scale, timed, aware = TIMESTAMP_UNITS[kind.unit], ~null, kind.tz is not None
        else:  # days, or milliseconds of whole days
            scale = DAY_US if pa.types.is_date32(kind) else 1000
            timed, aware = np.zeros(len(raw), dtype=bool), False
        if scale > 1 and (np.abs(raw) > np.iinfo(np.int64).max // scale).any():
            row = int(np.argmax(np.abs(raw) > np.iinfo(np.int64).max // scale))
            raise StampError("a time stamp out of range", str(raw[row]), row)
        us = raw * scale if scale > 0 else raw // -scale
        at = np.where(null, np.datetime64("NaT", "us"), us.view("datetime64[us]"))
        if pa.types.is_timestamp(kind) and not aware:  # pandas' dates: naive midnights
            timed = timed & (us % DAY_US != 0)
        return Stamps(at, timed, aware)
    if pa.types.is_floating(kind) or pa.types.is_decimal(kind):
        row = int(np.argmax(~null))
        value = str(column[row].as_py())
        raise StampError(f"not a date ({STAMP_FORMS}; epoch times are whole numbers)", value, row)
    try:  # text of any kind: each distinct value once
        encoded = column.cast(pa.string()).fill_null(text_scalar("")).dictionary_encode()
    except pa.ArrowException:  # nested, or bytes that are not text
        value = str(column[0]) if len(column) else ""
        raise StampError(f"not a date (a column of {kind})", value, 0) from None
    distinct = np.array(encoded.dictionary.to_pylist(), dtype=str)  # to_numpy loads pandas
    indices = integers(encoded.indices)
    return stamps_from_distinct(distinct, indices, unit, date_format)


def _zero() -> Any:  # noqa: N802
    import pyarrow as pa

    return int_scalar(0, pa.int64())


def _nulls(column: Any) -> np.ndarray:
    """Which values of an Arrow array are missing (without NumPy's
    conversion, which loads pandas)."""
    present = valid(column)
    return np.zeros(len(column), dtype=bool) if present is None else ~present


def _integer_stamps(raw: np.ndarray, null: np.ndarray, unit: str | None) -> Stamps:
    """An integer column: numbers of 8 digits are YYYYMMDD dates (as an
    integer date column holds them), any other is an epoch time in `unit`,
    as the text rules read them (without the unit, refused)."""
    dates = (raw >= 10_000_000) & (raw < 100_000_000) & ~null
    epochs = ~dates & ~null
    refused = epochs & (unit is None)
    if unit is not None:  # the range checked before scaling, which could overflow
        factor = TIMESTAMP_UNITS[unit]
        lo, hi = (int(x.astype(np.int64)) for x in EPOCH_RANGE)
        lo, hi = (lo // factor, hi // factor) if factor > 0 else (lo * -factor, hi * -factor)
        refused |= epochs & ((raw < lo) | (raw >= hi))
    if refused.any():
        row = int(np.argmax(refused))
        raise StampError(str(_parse_one(str(raw[row]), unit, None)), str(raw[row]), row)
    at = np.full(len(raw), np.datetime64("NaT", "us"))
    if epochs.any():
        factor = TIMESTAMP_UNITS[str(unit)]
        us = raw[epochs] * factor if factor > 0 else raw[epochs] // -factor
        at[epochs] = us.view("datetime64[us]")
    if dates.any():
        at[dates] = stamps_from_text(np.where(dates, raw.astype(str), "")).at[dates]
    return Stamps(at, epochs, bool(epochs.any()))


def times_of_day(texts: np.ndarray) -> np.ndarray:
    """A per-row expiry time column (HH:MM[:SS]) as timedelta64[us]; an
    empty cell is NaT (the row takes --expiry-time)."""
    cells = np.char.strip(np.asarray(texts, dtype=str))
    distinct, inverse = np.unique(cells, return_inverse=True)
    out = np.empty(len(distinct), dtype="timedelta64[us]")
    for i, text in enumerate(distinct.tolist()):
        m = _TIME.fullmatch(text)
        h, mi, s = (int(g or 0) for g in m.groups()) if m else (99, 0, 0)
        if text == "":
            out[i] = np.timedelta64("NaT", "us")
        elif h > 23 or mi > 59 or s > 59:
            raise StampError("not a time of day (HH:MM[:SS])", text, int(np.argmax(inverse == i)))
        else:
            out[i] = np.timedelta64(((h * 60 + mi) * 60 + s) * 10**6, "us")
    result: np.ndarray = out[inverse.reshape(-1)]
    return result


# --- Years to expiry. ---


def _offset_us(zone: Zone, wall: datetime.datetime) -> int:
    offset = zone.utcoffset(wall)
    return 0 if offset is None else offset // datetime.timedelta(microseconds=1)


def wall_to_utc(wall: np.ndarray, zone: Zone) -> np.ndarray:
    """Wall-clock times (datetime64[us]) in `zone` as UTC instants.  The
    offset is looked up once per distinct day, and per value on the days
    whose offset changes (a time skipped or repeated by a DST change takes
    the offset before it, as zoneinfo's fold 0 does).  NaT stays NaT."""
    wall = np.asarray(wall, dtype="datetime64[us]")
    out = wall.copy()
    ok = ~np.isnat(wall)
    if not ok.any():
        return out
    days, inverse = np.unique(wall[ok].astype("datetime64[D]"), return_inverse=True)
    inverse = inverse.reshape(-1)
    offsets = np.empty(len(days), dtype=np.int64)
    changing = np.zeros(len(days), dtype=bool)
    for i, day in enumerate(days.astype(datetime.datetime).tolist()):
        start = datetime.datetime.combine(day, datetime.time())
        first = _offset_us(zone, start)
        last = _offset_us(
            zone, start + datetime.timedelta(days=1) - datetime.timedelta(microseconds=1)
        )
        offsets[i], changing[i] = first, first != last
    shift = offsets[inverse]
    at = np.flatnonzero(ok)
    for j in np.flatnonzero(changing[inverse]).tolist():
        stamp = wall[at[j]].astype(datetime.datetime)
        shift[j] = _offset_us(zone, stamp)
    out[at] = wall[at] - shift.astype("timedelta64[us]")
    return out


def utc_to_wall(at: np.ndarray, zone: Zone) -> np.ndarray:
    """UTC instants (datetime64[us]) as wall-clock times in `zone`, each
    distinct value looked up once.  NaT stays NaT."""
    at = np.asarray(at, dtype="datetime64[us]")
    out = at.copy()
    ok = ~np.isnat(at)
    if not ok.any():
        return out
    values, inverse = np.unique(at[ok], return_inverse=True)
    shift = np.empty(len(values), dtype=np.int64)
    for i, value in enumerate(values.astype(datetime.datetime).tolist()):
        local = value.replace(tzinfo=datetime.timezone.utc).astimezone(zone)
        offset = local.utcoffset()
        shift[i] = 0 if offset is None else offset // datetime.timedelta(microseconds=1)
    out[ok] = at[ok] + shift[inverse.reshape(-1)].astype("timedelta64[us]")
    return out


def _broadcast(stamps: Stamps, n: int) -> Stamps:
    if len(stamps) == n:
        return stamps
    return Stamps(np.broadcast_to(stamps.at, n), np.broadcast_to(stamps.timed, n), stamps.aware)


def years_to_expiry(
    expiry: Stamps,
    quote: Stamps,
    expiry_time: ExpiryTime,
    time_of_day: np.ndarray | None = None,
    close: np.timedelta64 = CLOSE,
    day_count: DayCount | None = None,
) -> np.ndarray:
    """Years from each quote to its expiry, (expiry - quote) / 365 days (see
    the module's note for the times given to dates and the zones).

    `quote` has a row per expiry or one (--valuation-date); `time_of_day`
    is a per-row expiry time (`times_of_day`), NaT where the row takes
    `expiry_time`; `close` the time of a date-only quote against a
    date-only expiry; `day_count` the convention (None: Act/365F).  NaT on
    either side gives NaN; a quote at or after its expiry gives t <= 0."""
    n = len(expiry)
    quote = _broadcast(quote, n)
    dated_expiry, dated_quote = ~expiry.timed, ~quote.timed
    tod = np.full(n, expiry_time.time_of_day)
    if time_of_day is not None:
        tod = np.where(np.isnat(time_of_day), tod, time_of_day)
    end = np.where(dated_expiry, expiry.at + tod, expiry.at)
    start = np.where(dated_quote & dated_expiry, quote.at + close, quote.at)
    # Which values are wall-clock times that need a zone to become instants.
    wall_end = dated_expiry | (expiry.timed & (not expiry.aware))
    wall_start = dated_quote | (quote.timed & (not quote.aware))
    instant = (expiry.timed & expiry.aware) | (quote.timed & quote.aware)
    if expiry_time.zone is None:
        mixed = instant & (wall_end | wall_start) & ~np.isnat(end) & ~np.isnat(start)
        if mixed.any():
            i = int(np.argmax(mixed))
            raise ChainError(
                f"the quote or expiry times are instants (with a zone or offset, or epoch times)"
                f" but --expiry-time {expiry_time.text} has no zone for the times without one"
                f" (e.g. expiry {_show(end[i])} against quote {_show(start[i])}): give it one"
                f" such as --expiry-time '{expiry_time.text} America/New_York' or"
                f" '{expiry_time.text}Z'"
            )
    else:
        end = np.where(wall_end, wall_to_utc(end, expiry_time.zone), end)
        start = np.where(wall_start, wall_to_utc(start, expiry_time.zone), start)
    if day_count is not None and day_count.name != "act/365f":
        if expiry_time.zone is not None and day_count.name != "act/360":
            end, start = utc_to_wall(end, expiry_time.zone), utc_to_wall(start, expiry_time.zone)
        return np.asarray(year_fraction(start, end, day_count.name, day_count.calendar))
    days = (end - start) / np.timedelta64(1, "D")  # NaT becomes NaN
    years: np.ndarray = days / 365.0
    return years


def _show(at: np.datetime64) -> str:
    whole = at.astype("datetime64[s]")
    return str(whole if whole == at else at).replace("T", " ")


def describe(
    expiry_time: ExpiryTime, expiry: Stamps | None = None, quote: Stamps | None = None
) -> str:
    """The summary's line on the expiry time: which time and zone date-only
    expiries took (or that the file gave every expiry its time), and the
    time of date-only quotes."""
    if expiry is not None and len(expiry) and bool(expiry.timed[~np.isnat(expiry.at)].all()):
        return "expiry times: as the file gives them"
    line = f"expiry time: {expiry_time.describe()} on expiry dates"
    if quote is not None and expiry is not None and len(quote):
        q = _broadcast(quote, len(expiry))
        if bool((~q.timed & ~expiry.timed & ~np.isnat(q.at)).any()):
            seconds = int(CLOSE // np.timedelta64(1, "s"))
            line += f"; date-only quotes at the close, {seconds // 3600:02d}:00"
    return line

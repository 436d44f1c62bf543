"""The campaign's table (one row per flight) and its summary."""

from __future__ import annotations

import csv
import math
import os
from typing import Collection, Dict, Iterable, List, Literal, Optional, Sequence, Tuple

from ._config import Campaign
from ._execute import TaskRange, read_task
from ._types import Cell, FlightRow, Metric, Summary

TABLE_FILE = "flights.csv"
# Two-sided 95 % quantile of the standard normal.
Z95 = 1.959963984540054
PERCENTILES = (5, 50, 95, 99)
# Which way a metric gets worse. Metrics not listed are not ranked.
WORSE_WHEN = {
    "converge_s": "high",          # a flight that never converged is the worst
    "peak_load_g": "high",
    "altitude_lost_m": "high",
    "final_speed_err_mps": "abs",
    "min_altitude_m": "low",
}


def wilson_interval(passes: int, n: int) -> Tuple[float, float]:
    """95 % Wilson score interval of a pass rate: unlike the normal
    approximation it stays inside [0, 1] and is honest at 0 or n passes."""
    if n == 0:
        return (0.0, 1.0)
    p = passes / n
    z2 = Z95 * Z95
    centre = (p + z2 / (2 * n)) / (1 + z2 / n)
    half = Z95 * math.sqrt(p * (1 - p) / n + z2 / (4 * n * n)) / (1 + z2 / n)
    return (max(0.0, centre - half), min(1.0, centre + half))


def percentile(ordered: Sequence[float], q: float) -> Optional[float]:
    """Linear interpolation between the closest ranks of sorted values."""
    if not ordered:
        return None
    pos = (len(ordered) - 1) * q / 100.0
    lo = math.floor(pos)
    hi = min(lo + 1, len(ordered) - 1)
    return ordered[lo] + (ordered[hi] - ordered[lo]) * (pos - lo)


class Table:
    """The merged rows, in flight order, and the names of the dispersed
    variables, the metrics and the checks it reports, in column order."""

    def __init__(self, variables: List[str], metrics: List[str], checks: List[str],
                 rows: List[FlightRow]) -> None:
        self.variables, self.metrics, self.checks = variables, metrics, checks
        self.rows = rows

    def column(self, kind: Literal["values", "metrics", "checks"], name: str) -> List[Optional[float]]:
        """One variable, metric or check of every flight (None where a
        flight has none; a check's verdict as True/False)."""
        return [row[kind].get(name) for row in self.rows]

    def as_records(self) -> List[Dict[str, Cell]]:
        """One flat dict per flight, the CSV's columns."""
        out: List[Dict[str, Cell]] = []
        for row in self.rows:
            rec: Dict[str, Cell] = {"index": row["index"]}
            for v in self.variables:
                rec[v] = row["values"].get(v)
            for m in self.metrics:
                rec[m] = row["metrics"].get(m)
            for c in self.checks:
                rec["check." + c] = row["checks"].get(c)
            rec["passed"] = row["passed"]
            rec["failure"] = row["failure"]
            out.append(rec)
        return out


def _cell(value: Cell) -> str:
    """A table cell as the CSV writes it."""
    if value is None:
        return ""
    if isinstance(value, bool):
        return "pass" if value else "fail"
    if isinstance(value, float):
        return repr(value)  # reads back to the same double
    return str(value)


def merge(campaign: Campaign, out_dir: str, tasks: Iterable[TaskRange],
          checks_wanted: Optional[Collection[str]] = None,
          metrics_wanted: Optional[Collection[str]] = None) -> Table:
    """Reads every task file in flight order, writes the table, returns it."""
    rows: List[FlightRow] = []
    for task, first, count in tasks:
        part = read_task(out_dir, task)
        if [r["index"] for r in part] != list(range(first, first + count)):
            raise RuntimeError("task file %d does not hold flights %d..%d" % (task, first, first + count - 1))
        rows.extend(part)
    variables = [d.path for d in campaign.dispersions]
    metrics: List[str] = []
    checks: List[str] = []
    for row in rows:
        for m in row["metrics"]:
            if m not in metrics and (metrics_wanted is None or m in metrics_wanted):
                metrics.append(m)
        for c in row["checks"]:
            if c not in checks and (checks_wanted is None or c in checks_wanted):
                checks.append(c)
    table = Table(variables, metrics, checks, rows)
    path = os.path.join(out_dir, TABLE_FILE)
    with open(path + ".partial", "w", newline="", encoding="utf-8") as f:
        writer = csv.writer(f)
        header = ["index"] + variables + metrics + ["check." + c for c in checks] + ["passed", "failure"]
        writer.writerow(header)
        for rec in table.as_records():
            writer.writerow([_cell(rec[h]) for h in header])
    os.replace(path + ".partial", path)
    return table


def _badness(kind: str, value: Metric) -> float:
    """How bad a metric is, the larger the worse; no figure is the worst."""
    if value is None:
        return math.inf
    return {"high": value, "low": -value, "abs": abs(value)}[kind]


def summarise(table: Table, worst: int = 5) -> Summary:
    """Pass rates with 95 % intervals, metric percentiles, worst flights."""
    n = len(table.rows)
    all_passed = sum(1 for r in table.rows if r["passed"])
    summary: Summary = {
        "flights": n, "checks": {}, "metrics": {}, "worst": {},
        "all_checks": {"passed": all_passed, "rate": all_passed / n if n else 0.0,
                       "ci95": wilson_interval(all_passed, n)},
        "refused": sum(1 for r in table.rows if r.get("error"))}
    for c in table.checks:
        results = [r["checks"].get(c) for r in table.rows]
        judged = [x for x in results if x is not None]
        passes = sum(1 for x in judged if x)
        summary["checks"][c] = {"passed": passes, "flights": len(judged),
                                "rate": passes / len(judged) if judged else 0.0,
                                "ci95": wilson_interval(passes, len(judged))}
    for m in table.metrics:
        values = [v for v in table.column("metrics", m) if v is not None and not math.isnan(v)]
        ordered = sorted(values)
        summary["metrics"][m] = {
            "flights": len(values), "missing": n - len(values),
            "min": ordered[0] if ordered else None, "max": ordered[-1] if ordered else None,
            "mean": sum(values) / len(values) if values else None,
            "percentiles": {q: percentile(ordered, q) for q in PERCENTILES}}
        if m in WORSE_WHEN and worst > 0:
            # Refused flights have no figures to rank.
            ranked = sorted((r for r in table.rows if not r.get("error")),
                            key=lambda r: (-_badness(WORSE_WHEN[m], r["metrics"].get(m)), r["index"]))
            summary["worst"][m] = [(r["index"], r["metrics"].get(m)) for r in ranked[:worst]]
    return summary


def _num(v: Optional[float], fmt: str = "%.3g") -> str:
    """A figure for the summary, "-" when there is none."""
    return "-" if v is None else fmt % v


def format_summary(campaign: Campaign, summary: Summary) -> str:
    """The summary as the command line prints it."""
    lines = ["campaign %s: %d flights of %s" % (campaign.name, summary["flights"], campaign.scenario_label)]
    a = summary["all_checks"]
    lines.append("  all checks      %5.1f %%  (95 %% CI %.1f-%.1f %%)  %d passed"
                 % (100 * a["rate"], 100 * a["ci95"][0], 100 * a["ci95"][1], a["passed"]))
    if summary["refused"]:
        lines.append("  refused by the simulator: %d flights (see the failure column)" % summary["refused"])
    lines.append("  check pass rates:")
    for c, s in summary["checks"].items():
        lines.append("    %-26s %5.1f %%  (95 %% CI %.1f-%.1f %%)  %d/%d"
                     % (c, 100 * s["rate"], 100 * s["ci95"][0], 100 * s["ci95"][1], s["passed"], s["flights"]))
    lines.append("  %-24s %12s %14s %14s %14s %14s" % ("metrics:", "p5", "p50", "p95", "p99", "max"))
    for m, ms in summary["metrics"].items():
        p = ms["percentiles"]
        extra = "  (%d without a value)" % ms["missing"] if ms["missing"] else ""
        lines.append("    %-22s %12s %14s %14s %14s %14s%s" % (
            m, _num(p[5]), _num(p[50]), _num(p[95]), _num(p[99]), _num(ms["max"]), extra))
    return "\n".join(lines)

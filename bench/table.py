#!/usr/bin/env python3
"""Prints the benchmark table from the results bench/run gathered:
records.json and lifecycle.json (Google Benchmark) and e2e.json (e2e.py).

usage: table.py RESULTS_DIR
Exit status 1 when a benchmark reported an error or a figure is missing.
"""
import json
import os
import sys


def load_benchmarks(path):
    """run name (no /manual_time) -> the median of its repetitions, or its
    only run when it ran once."""
    with open(path) as f:
        entries = json.load(f)["benchmarks"]
    found = {}
    for entry in entries:
        name = entry["run_name"].replace("/manual_time", "")
        if entry.get("error_occurred"):
            found[name] = {"error": entry.get("error_message", "error")}
        elif "error" in found.get(name, {}):
            continue  # one failed repetition spoils the figure
        elif entry["run_type"] == "iteration" or entry.get("aggregate_name") == "median":
            found[name] = entry
    return found


def ns(entry):
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[entry["time_unit"]]
    return entry["real_time"] * scale


def show_time(nanoseconds):
    if nanoseconds < 10:
        return f"{nanoseconds:.2f} ns"
    if nanoseconds < 10_000:
        return f"{nanoseconds:.0f} ns"
    if nanoseconds < 10_000_000:
        return f"{nanoseconds / 1e3:.1f} us"
    return f"{nanoseconds / 1e6:.2f} ms"


def show_ms(milliseconds):
    return f"{milliseconds:.3f} ms"


class Table:
    def __init__(self):
        self.rows = []
        self.problems = []
        self.goals = {False: 0, True: 0}
        self.met = {False: 0, True: 0}

    def add(self, metric, ours, baseline, ratio, goal, met, variant=False):
        if met is not None:
            self.goals[variant] += 1
            self.met[variant] += bool(met)
        self.rows.append([metric, ours, baseline, "" if ratio is None else f"{ratio:.2f}", goal,
                          "-" if met is None else ("yes" if met else "NO")])

    def missing(self, metric, what):
        self.problems.append(f"{metric}: {what}")
        self.rows.append([metric, "n/a", "n/a", "", "", "ERROR"])

    def print(self):
        header = ["metric", "ours", "baseline", "ratio", "goal", "met?"]
        widths = [max(len(str(r[i])) for r in self.rows + [header]) for i in range(len(header))]
        line = lambda cells: "| " + " | ".join(str(c).ljust(w) for c, w in zip(cells, widths)) + " |"
        print(line(header))
        print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
        for row in self.rows:
            print(line(row))
        print(f"\nGoals met: {self.met[False]} of {self.goals[False]} for the code and link as they are; "
              f"{self.met[True]} of {self.goals[True]} for the link variants [in brackets].")
        for problem in self.problems:
            print(f"ERROR {problem}")


def get(found, name, table, metric):
    entry = found.get(name)
    if entry is None:
        table.missing(metric, f"no result for {name}")
    elif "error" in entry:
        table.missing(metric, f"{name}: {entry['error']}")
    else:
        return entry
    return None


def main():
    results = sys.argv[1]
    records = load_benchmarks(os.path.join(results, "records.json"))
    lifecycle = load_benchmarks(os.path.join(results, "lifecycle.json"))
    with open(os.path.join(results, "e2e.json")) as f:
        e2e = json.load(f)
    t = Table()

    # a. LOCAL writer, per record; medians of the repetitions.
    ours = get(records, "BM_Local_Ours", t, "a. LOCAL record")
    for name, metric, goal, test in (
        ("BM_Local_BareSyscalls", "a. LOCAL record vs open+write+close+stat", "<= 1.30", lambda r: r <= 1.30),
        ("BM_Local_Fprintf", "a. LOCAL record vs fopen+fprintf+fclose", "< 1.00", lambda r: r < 1.00),
        ("BM_Local_SpdlogFlushEach", "a. LOCAL record vs spdlog file sink, flush each", "reference", None),
    ):
        base = records.get(name)
        if name == "BM_Local_SpdlogFlushEach" and base is None:
            t.add(metric, "-", "spdlog not built", None, goal, None)
            continue
        base = get(records, name, t, metric)
        if ours and base:
            ratio = ns(ours) / ns(base)
            t.add(metric, show_time(ns(ours)), show_time(ns(base)), ratio, goal, test(ratio) if test else None)

    # b. filtered out by level.
    metric = "b. record filtered out by level"
    entry = get(records, "BM_FilteredOut", t, metric)
    if entry:
        t.add(metric, show_time(ns(entry)), "-", None, "<= 2 ns", ns(entry) <= 2.0)

    # c. REMOTE over loopback: per-record medians, each record alone on the wire.
    metric = "c. REMOTE record vs bare send (median)"
    ours, base = get(records, "BM_Remote_Ours", t, metric), get(records, "BM_Remote_BareSend", t, metric)
    if ours and base:
        ratio = ours["median_ns"] / base["median_ns"]
        t.add(metric, show_time(ours["median_ns"]), show_time(base["median_ns"]), ratio, "<= 1.50", ratio <= 1.50)

    # d. GetLog + Destroy.
    # d. GetLog + Destroy; baseline: a bare thread created, signalled, joined.
    metric = "d. GetLog+Destroy"
    entry = get(lifecycle, "BM_GetLogDestroy/iterations:1000/repeats:1", t, metric)
    base = get(lifecycle, "BM_BareThreadCycle/iterations:1000/repeats:1", t, metric)
    if entry and base:
        n = int(entry["samples"])
        for key, what, goal in (("median_us", "median", None), ("p99_us", "p99", None), ("max_us", "max", 1000)):
            t.add(f"d. GetLog+Destroy vs bare thread cycle, {what} of {n}", show_time(entry[key] * 1e3),
                  show_time(base[key] * 1e3), entry[key] / base[key], "< 1 ms" if goal else "-",
                  entry[key] < goal if goal else None)

    # e. rotation: 100 MiB against 1 MiB files, taken in turn; medians.
    for data, iterations, what in ((0, 202, "sparse files"), (1, 30, "oldest file holding data")):
        metric = f"e. rotating write 100 MiB vs 1 MiB, {what}"
        entry = get(lifecycle, f"BM_RotatingWrite/oldest_data:{data}/iterations:{iterations}/repeats:1", t, metric)
        if entry:
            ratio = entry["median_100MiB_us"] / entry["median_1MiB_us"]
            t.add(f"{metric} (median of {int(entry['samples_per_size'])})", show_time(entry["median_100MiB_us"] * 1e3),
                  show_time(entry["median_1MiB_us"] * 1e3), ratio, "0.80-1.25", 0.8 <= ratio <= 1.25)

    # f. end to end against the minimal client; cue_ctl as shipped (static),
    # then linked against the shared runtimes for comparison.
    base = e2e["min_client"]
    n = base["runs"]
    for binary, tag in (("cue_ctl", ""), ("shared", " [shared runtimes]")):
        for level, limit in (("NONE", 1.3), ("DEBUG", 1.6)):
            ours = e2e[f"{binary}.{level}"]
            prefix = f"f. e2e {level}{tag}"
            ratio = ours["median_ms"] / base["median_ms"]
            variant = binary != "cue_ctl"
            t.add(f"{prefix} median of {n}", show_ms(ours["median_ms"]), show_ms(base["median_ms"]), ratio,
                  f"<= {limit:.2f}", ratio <= limit, variant)
            if binary == "cue_ctl":
                t.add(f"{prefix} p99", show_ms(ours["p99_ms"]), show_ms(base["p99_ms"]),
                      ours["p99_ms"] / base["p99_ms"], "-", None)
            t.add(f"{prefix} max", show_ms(ours["max_ms"]), show_ms(base["max_ms"]), ours["max_ms"] / base["max_ms"],
                  "< 20 ms", ours["max_ms"] < 20, variant)
            ratio = ours["rss_peak_kib"] / base["rss_peak_kib"]
            t.add(f"{prefix} peak RSS", f"{ours['rss_peak_kib']} KiB", f"{base['rss_peak_kib']} KiB", ratio,
                  "<= 1.50", ratio <= 1.5, variant)

    t.print()
    return 1 if t.problems else 0


if __name__ == "__main__":
    sys.exit(main())

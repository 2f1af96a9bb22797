#!/usr/bin/env python3
"""Measures cue_ctl end to end and prints bench/run's table.

`cue_ctl -c STOP 42` runs against core_sim in one jail (scripts/jail), at NONE
and at DEBUG, next to the minimal C client doing the same exchange:
dynamically linked, as C programs usually are (the goals' yardstick), and
static (the floor). Each run is timed from spawn to reaped; the runs are cut
into batches of 10 taken in turn, so that load from elsewhere falls on all
alike. Every run must bring the core its STOP frame and log it at DEBUG only,
or the measurement fails.

usage: table.py BUILD BENCH_LOG_OUTPUT   (BENCH_E2E_RUNS, default 500)
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
JAIL = os.path.join(os.path.dirname(HERE), "scripts", "jail")
STOP = [0x02, 0x05, 0x00, 0x07, 0x11, 0x20, 0x02, 0x02, 0x10, 0x00, 0xF0]
STOP_RX = "RX " + " ".join(f"{b:02X}" for b in STOP + [sum(STOP) & 0xFF])
LEVELS = {"NONE": 1.25, "DEBUG": 1.35}  # the goal for the median at each level
BATCH = 10


def inside(plan):
    """In the jail: core_sim serves every run; results go to /tmp/results.json."""
    core = subprocess.Popen([plan["core_sim"], "--connections", str(plan["starts"]), "--timeout", "3000",
                             "--ready", "/tmp/core.ready", "--out", "/tmp/core.txt"])
    while not os.path.exists("/tmp/core.ready") and core.poll() is None:
        time.sleep(0.01)
    runs = {}
    errors = ""
    for name, command, level in plan["turns"]:
        if level:
            with open("/config/tessra/cue_ctl.conf", "w") as conf:
                conf.write(f"cue_ctl={level}\nMODE=LOCAL\nREMOTE_HOST=0.0.0.0:0\n")
        done = subprocess.run([plan["spawn_timer"], str(BATCH), "1"] + command, capture_output=True, text=True)
        runs.setdefault(name, []).extend([int(v) for v in line.split()] for line in done.stdout.splitlines())
        if done.returncode:
            errors += f"{done.stderr}spawn_timer exit {done.returncode}\n"
    with open("/tmp/results.json", "w") as results:
        json.dump({"runs": runs, "errors": errors, "core": core.wait()}, results)


def read(path):
    return open(path, encoding="latin-1").read() if os.path.exists(path) else ""


def end_to_end(build, runs):
    """name -> median and max wall ms, peak RSS KiB."""
    contestants = [(name, [f"{build}/bench/{name}"], None) for name in ("min_client", "min_client_static")]
    contestants += [(level, [f"{build}/cmd/cue_ctl", "-c", "STOP", "42"], level) for level in LEVELS]
    if runs <= 0 or runs % BATCH:
        sys.exit(f"e2e: BENCH_E2E_RUNS must be a positive multiple of {BATCH}")
    rounds = runs // BATCH
    turns = [contestants[(r + i) % len(contestants)] for r in range(rounds) for i in range(len(contestants))]
    runs_with_warm_up = len(turns) * (BATCH + 1)
    plan = {"core_sim": f"{build}/tools/core_sim", "spawn_timer": f"{build}/bench/spawn_timer", "turns": turns,
            "starts": runs_with_warm_up}
    binds = [f"{build}/bench", f"{build}/cmd", f"{build}/tools", HERE]
    top = tempfile.mkdtemp(prefix="cue_bench_e2e.")
    root = os.path.join(top, "root")
    try:
        command = [JAIL, root] + [arg for folder in binds for arg in ("--bind", folder)]
        done = subprocess.run(command + ["--", "/usr/bin/python3", __file__, "--inside", json.dumps(plan)],
                              capture_output=True, text=True)
        results = json.loads(read(f"{root}/tmp/results.json") or "{}")
        if done.returncode or results.get("core") != 0:
            sys.exit(f"e2e: the jail or core_sim failed\n{done.stdout}{done.stderr}")
        problems = [results["errors"]]
        if read(f"{root}/tmp/core.txt").splitlines().count(STOP_RX) != runs_with_warm_up:
            problems.append("the core did not get every STOP frame")
        logs = os.path.join(root, "var", "log", "tessra")  # rotated files too
        logged = "".join(read(os.path.join(logs, f)) for f in os.listdir(logs)).count("Exiting ProcessStop()")
        if logged != rounds * (BATCH + 1):
            problems.append(f"{logged} runs logged their STOP: not every DEBUG run, or a NONE run too")
        figures = {}
        for name, _, _ in contestants:
            lines = results["runs"][name]
            if len(lines) != runs or any(line[2] for line in lines):
                problems.append(f"{name}: a run failed")
            wall = sorted(line[0] / 1e6 for line in lines)
            figures[name] = {"median": wall[len(wall) // 2], "max": wall[-1], "rss": max(l[1] for l in lines)}
        if any(problems):
            sys.exit("e2e: " + "; ".join(filter(None, problems)))
        return figures
    finally:
        # The jail's mounts die with its namespace; never recurse into one.
        if not any(os.path.ismount(os.path.join(root, d)) for d in ("usr", "etc", "dev", "proc")):
            shutil.rmtree(top)


def main():
    build, log_output = map(os.path.abspath, sys.argv[1:3])
    runs = int(os.environ.get("BENCH_E2E_RUNS", "500"))
    log = {line.split()[0]: float(line.split()[1]) for line in open(log_output)}
    e2e = end_to_end(build, runs)
    rows = [["metric", "ours", "baseline", "ratio", "goal", "met?"]]
    met = []

    def row(metric, ours, base, ratio, goal, ok=None, counted=True):
        if ok is not None and counted:
            met.append(ok)
        shown = "-" if ok is None else ("yes" if ok else "NO") if counted else ("[yes]" if ok else "[no]")
        rows.append([metric, ours, base, f"{ratio:.2f}" if isinstance(ratio, float) else ratio, goal, shown])

    def ms(value):
        return f"{value:.3f} ms"

    def kib(value):
        return f"{value} KiB"

    dynamic = e2e["min_client"]
    floor = e2e["min_client_static"]
    for level, limit in LEVELS.items():
        ours = e2e[level]
        for key, what, show, goal in (("median", f"median of {runs}", ms, limit), ("rss", "peak RSS", kib, 1.3)):
            for base, against in ((dynamic, "min client"), (floor, "static min client (floor)")):
                ratio = ours[key] / base[key]
                row(f"e2e {level}: {what} vs {against}", show(ours[key]), show(base[key]), ratio, f"<= {goal:.2f}",
                    ratio <= goal, base is dynamic)
        row(f"e2e {level}: max of {runs}", ms(ours["max"]), ms(dynamic["max"]), ours["max"] / dynamic["max"],
            "<= 10 ms", ours["max"] <= 10)
    for name, metric, limit in (("local", "LOCAL record vs open+write+close+stat", 1.3),
                                ("remote", "REMOTE record vs one send", 1.5)):
        ratio = log[name] / log[f"{name}_bare"]
        row(f"{metric} (median)", f"{log[name] / 1e3:.1f} us", f"{log[f'{name}_bare'] / 1e3:.1f} us", ratio,
            f"<= {limit:.2f}", ratio <= limit)
    row("record filtered out by level (median)", f"{log['filtered']:.2f} ns", "-", "", "<= 2 ns", log["filtered"] <= 2)
    with tempfile.NamedTemporaryFile() as stripped:
        subprocess.run(["strip", "-o", stripped.name, f"{build}/cmd/cue_ctl"], check=True)
        row(f"cue_ctl as shipped, stripped ({os.uname().machine})", f"{os.path.getsize(stripped.name) / 1000:.0f} KB", "-", "", "-")
    widths = [max(len(r[i]) for r in rows) for i in range(6)]
    for i, r in enumerate(rows):
        print("| " + " | ".join(c.ljust(w) for c, w in zip(r, widths)) + " |")
        if i == 0:
            print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    print(f"\nGoals met: {sum(met)} of {len(met)}. The end-to-end goals are judged against the minimal client "
          "linked as C programs usually are (dynamic); [in brackets], not counted: the same goals against the "
          "static client (the floor).")


if __name__ == "__main__":
    if sys.argv[1] == "--inside":
        inside(json.loads(sys.argv[2]))
    else:
        main()

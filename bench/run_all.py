#!/usr/bin/python3
"""Runs every benchmark in bench/ several times and writes docs/performance.md.

Usage: run_all.py --build <build dir> --out <markdown file> [--quick]

Called by scripts/bench, which builds the programs first. Each figure is
repeated (rounds) so that the spread shows; the report quotes medians with
the lowest and highest value of the rounds. --quick shortens every part for
trying the script out; its report says so.
"""
import argparse
import datetime
import json
import os
import platform
import shlex
import statistics
import subprocess
import sys
import time

PYTHON = "/usr/bin/python3"  # Debian's, which has pyvisa and pyvisa-py
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def log(message):
    print(f"bench: {message}", file=sys.stderr, flush=True)


def run(command, timeout, env=None):
    """Runs a command and returns its standard output; stops the script on failure."""
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True, timeout=timeout, env=env)
    if result.returncode != 0:
        sys.exit(f"bench: {shlex.join(command)} failed ({result.returncode}):\n{result.stderr}")
    return result.stdout


def json_lines(text):
    return [json.loads(line) for line in text.splitlines() if line.startswith("{")]


def median(values):
    return statistics.median(values)


def spread(values, digits=1, scale=1.0):
    """median (min–max) of a list, formatted."""
    values = [v * scale for v in values]
    fmt = f"{{:.{digits}f}}"
    return f"{fmt.format(median(values))} ({fmt.format(min(values))}–{fmt.format(max(values))})"


def shown_path(path):
    """A path as the report shows it: relative to the source tree when inside it."""
    relative = os.path.relpath(path, ROOT)
    return path if relative.startswith("..") else relative


def thousands(n):
    return f"{n:,}".replace(",", " ")


def machine():
    model = ""
    for line in run(["lscpu"], 30).splitlines():
        if line.startswith("Model name:"):
            model = line.split(":", 1)[1].strip()
        if line.startswith("Hypervisor vendor:"):
            model += f", {line.split(':', 1)[1].strip()} guest"
    return {
        "cores": os.cpu_count(),
        "model": model,
        "kernel": platform.release(),
        "commit": run(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"], 30).strip(),
        "dirty": bool(run(["git", "-C", ROOT, "status", "--porcelain", "--untracked-files=no"],
                          30).strip()),
    }


def load_average():
    return os.getloadavg()[0]


def busy_processes():
    """Other processes using CPU right now (a hint that the machine is shared)."""
    out = run(["ps", "-eo", "pcpu,comm", "--sort=-pcpu", "--no-headers"], 30)
    busy = []
    for line in out.splitlines():
        cpu, _, name = line.strip().partition(" ")
        if float(cpu) >= 20.0:
            busy.append(f"{name.strip()} {cpu}%")
    return busy


# --- 1. query round trip -------------------------------------------------

class ReplyServer:
    def __init__(self, program, cpu):
        self.process = subprocess.Popen(["taskset", "-c", str(cpu), program],
                                        stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        if not line.startswith("REPLYSERVER port="):
            sys.exit(f"bench: reply server said {line!r}")
        self.port = int(line.split("=", 1)[1])

    def stop(self):
        self.process.terminate()
        self.process.wait(10)


def query_round(build, placement, server_cpu, client_cpu):
    server = ReplyServer(os.path.join(build, "bench", "bench-reply-server"), server_cpu)
    try:
        resource = f"TCPIP0::127.0.0.1::{server.port}::SOCKET"
        gbench = run(["taskset", "-c", str(client_cpu), os.path.join(build, "bench", "bench-query"),
                      "--port", str(server.port), "--benchmark_format=json",
                      "--benchmark_enable_random_interleaving=true"], 300)
        figures = {}
        for entry in json.loads(gbench)["benchmarks"]:
            name = entry["run_name"].split("/")[0]
            figures[name] = {"p50_us": entry["p50_us"], "p99_us": entry["p99_us"],
                             "cpu_us": entry["cpu_time"], "wall_us": entry["real_time"]}
        py = json_lines(run(["taskset", "-c", str(client_cpu), PYTHON,
                             os.path.join(HERE, "pyvisa_query.py"), resource], 600))[0]
        figures["PyVISA"] = {"p50_us": py["p50_us"], "p99_us": py["p99_us"],
                             "cpu_us": py["cpu_time_us"], "wall_us": py["real_time_us"]}
        return figures
    finally:
        server.stop()


def query_benchmarks(build, rounds):
    results = {}
    for placement in ("same core", "split"):
        results[placement] = []
        for r in range(rounds):
            cpu = r % 2
            server_cpu, client_cpu = (cpu, cpu) if placement == "same core" else (cpu, 1 - cpu)
            log(f"query round trip, {placement}, round {r + 1}/{rounds}")
            results[placement].append(query_round(build, placement, server_cpu, client_cpu))
    return results


# --- 2. step timing --------------------------------------------------------

def step_timing(build, runs, steps):
    results = []
    for r in range(runs):
        log(f"step timing, {steps} steps, run {r + 1}/{runs} (about {steps * 0.121:.0f} s)")
        out = run([os.path.join(build, "bench", "bench-step-timing"), "--steps", str(steps),
                   "--settle", "10", "--readings", "3", "--interval", "5"], steps * 1 + 300)
        results.append(json_lines(out)[0])
    return results


# --- 3. footprint -------------------------------------------------------------

def startup(build, rounds):
    results = []
    for r in range(rounds):
        log(f"start-up, round {r + 1}/{rounds}")
        results.append(json_lines(run([os.path.join(build, "bench", "bench-footprint"), "startup"],
                                      120))[0])
    return results


def long_runs(build, runs, steps):
    """The long runs wait 100 ms per step and barely use the CPU, so they run side by side."""
    log(f"footprint, {runs} runs of {steps} steps side by side (about {steps * 0.101:.0f} s)")
    command = [os.path.join(build, "bench", "bench-footprint"), "run", "--steps", str(steps),
               "--settle", "0", "--readings", "3", "--interval", "0"]
    processes = [subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                  text=True) for _ in range(runs)]
    results = []
    for process in processes:
        out, err = process.communicate(timeout=steps * 1 + 600)
        if process.returncode != 0:
            sys.exit(f"bench: {shlex.join(command)} failed:\n{err}")
        results.append(json_lines(out)[0])
    return results, command


# --- 4. result writing ----------------------------------------------------------

def append_cost(build, repetitions):
    log("AppendText")
    out = run([os.path.join(build, "bench", "bench-append"), "--benchmark_format=json",
               f"--benchmark_repetitions={repetitions}", "--benchmark_enable_random_interleaving=true"],
              600)
    costs = {}
    for entry in json.loads(out)["benchmarks"]:
        if entry.get("run_type") != "iteration":
            continue
        name = entry["run_name"].split("/")[0]
        costs.setdefault(name, {"wall_us": [], "cpu_us": []})
        costs[name]["wall_us"].append(entry["real_time"])
        costs[name]["cpu_us"].append(entry["cpu_time"])
    return costs


# --- report ------------------------------------------------------------------------

def verdict(ok):
    return "met" if ok else "**missed**"


def write_report(path, info, settings, query, steps, boot, footprint, append, baseline):
    bin_dir = settings["bin_dir"]
    lines = []
    add = lines.append
    started, finished = settings["started"], settings["finished"]
    add("# Performance")
    add("")
    add("Measured with `scripts/bench`, which builds the benchmark programs of `bench/` "
        "(RelWithDebInfo) and runs each of them several times; this file is its output. "
        "Every figure is the median of the rounds, with the lowest and the highest round in "
        "brackets. The commands below are the ones that produced the figures (ports and "
        "CPU numbers vary per round).")
    add("")
    add(f"- Command: `{settings['invocation']}`, run from the top of the source tree.")
    add(f"- Machine: {info['cores']} cores ({info['model']}), Linux {info['kernel']}; "
        f"commit {info['commit']}{' with uncommitted changes in the tree' if info['dirty'] else ''}.")
    add(f"- Run from {started} to {finished} (UTC), {settings['duration_min']:.0f} minutes.")
    add(f"- Load average: {settings['load_before']:.2f} before, {settings['load_after']:.2f} after. "
        + ("The machine was shared with other developers while it ran"
           + (f" (busy at the start: {', '.join(settings['busy'])})" if settings["busy"] else "")
           + ", so timings are noisier than on an idle machine: compare medians and ratios, "
             "not single rounds."
           if settings["shared"] else "The machine was otherwise idle."))
    if settings["quick"]:
        add("- **Quick mode** (`scripts/bench --quick`): fewer rounds and shorter runs than the "
            "targets ask for; not a measurement to quote.")
    add("")

    # Targets first.
    same = query["same core"]
    ratio = {k: [r["DriverQuery"][k] / r["PlainSocket"][k] for r in same] for k in ("p50_us", "cpu_us")}
    py_ratio = [r["PyVISA"]["cpu_us"] / r["DriverQuery"]["cpu_us"] for r in same]
    earliest = min(s["lateness"]["earliest_ms"] for s in steps)
    med_late = median([s["lateness"]["median_ms"] for s in steps])
    over = [s["over_planned_pct"] for s in steps]
    growth = [f["growth_kib"] for f in footprint["runs"]]
    add("## Targets")
    add("")
    add("| Target | Measured | |")
    add("|---|---|---|")
    add(f"| wall (a) ≤ 1.1 × (b) | a/b = {spread(ratio['p50_us'], 3)} (median per-query wall time, same core) "
        f"| {verdict(median(ratio['p50_us']) <= 1.1)} |")
    add(f"| CPU (a) ≤ 1.25 × (b) | a/b = {spread(ratio['cpu_us'], 3)} | {verdict(median(ratio['cpu_us']) <= 1.25)} |")
    add(f"| CPU (c) ≥ 1.8 × (a) | c/a = {spread(py_ratio, 2)} | {verdict(median(py_ratio) >= 1.8)} |")
    add(f"| earliest lateness ≥ 0 ms | {earliest:.4f} ms (lowest of {sum(s['events'] for s in steps)} events) "
        f"| {verdict(earliest >= 0)} |")
    add(f"| median lateness ≤ 1 ms | {spread([s['lateness']['median_ms'] for s in steps], 4)} ms "
        f"| {verdict(med_late <= 1)} |")
    add(f"| run total ≤ planned + 0.2 % | + {spread(over, 3)} % | {verdict(median(over) <= 0.2)} |")
    add(f"| memory growth from step 1 000 to {thousands(footprint['steps'])} < 1 MiB | "
        f"{spread(growth, 0)} KiB | {verdict(max(growth) < 1024)} |")
    add("")
    add("(a) is our VISA layer through `DMM_34461A::Query`, (b) a plain blocking socket "
        "client, (c) PyVISA with the pyvisa-py backend. The first three rows use the "
        "same-core placement (see below); the split placement is reported beside it.")
    add("")

    # 1. Query round trip.
    add("## 1. Query round trip on loopback")
    add("")
    add(f"{settings['query_rounds']} rounds per placement; each round runs all clients against "
        "one fresh `bench-reply-server`, 10 000 \"READ?\" queries each after 1 000 warm-up "
        "queries. Wall time is per query (median and p99 of the 10 000); CPU is the client "
        "process's user + system time per query. The server answers every query line at "
        "once with a fixed reading and, like a real meter, does not answer commands "
        "(\"*CLS\"): a reply to those would leave a client one reply ahead of its queries.")
    add("")
    add("```")
    add(f"taskset -c S {bin_dir}/bench-reply-server")
    add(f"taskset -c C {bin_dir}/bench-query --port PORT --benchmark_format=json "
        "--benchmark_enable_random_interleaving=true")
    add("taskset -c C /usr/bin/python3 bench/pyvisa_query.py TCPIP0::127.0.0.1::PORT::SOCKET")
    add("```")
    add("")
    add("Placements: *same core* pins server and client to one CPU (S = C, alternating "
        "between the two CPUs from round to round): the round trip is then pure software, "
        "which is what the client's overhead is measured against. *Split* puts them on "
        "different CPUs (S ≠ C), as with a separate instrument; on this virtual machine every "
        "cross-CPU wake-up costs tens of microseconds of wall and CPU time that no client "
        "can avoid, which narrows every ratio.")
    add("")
    names = [("PlainSocket", "(b) plain blocking socket"),
             ("VisaCInterface", "VISA C interface (viWrite + viRead)"),
             ("DriverQuery", "(a) `DMM_34461A::Query`"),
             ("PyVISA", "(c) PyVISA + pyvisa-py")]
    for placement in ("same core", "split"):
        rounds = query[placement]
        add(f"### {placement.capitalize()}")
        add("")
        add("| Client | wall median µs | wall p99 µs | CPU µs/query |")
        add("|---|---|---|---|")
        for key, label in names:
            add(f"| {label} | {spread([r[key]['p50_us'] for r in rounds], 1)} "
                f"| {spread([r[key]['p99_us'] for r in rounds], 1)} "
                f"| {spread([r[key]['cpu_us'] for r in rounds], 2)} |")
        add("")
        for k, what in (("p50_us", "wall"), ("cpu_us", "CPU")):
            ab = [r["DriverQuery"][k] / r["PlainSocket"][k] for r in rounds]
            ca = [r["PyVISA"][k] / r["DriverQuery"][k] for r in rounds]
            add(f"- {what}: a/b = {spread(ab, 3)}, c/a = {spread(ca, 2)}")
        add("")

    # 2. Step timing.
    s0 = steps[0]
    add("## 2. Step timing of a whole run")
    add("")
    add(f"{len(steps)} automatic runs of {s0['steps']} steps (settle {s0['settle_ms']} ms, "
        f"{s0['readings']} readings {s0['interval_ms']} ms apart) through the real window, "
        "offscreen, against `benchsim --dmm --board` (replies at once):")
    add("")
    add("```")
    add(f"{bin_dir}/bench-step-timing --steps {s0['steps']} --settle {s0['settle_ms']} "
        f"--readings {s0['readings']} --interval {s0['interval_ms']}")
    add("```")
    add("")
    add("Every wait counts from the end of the slot before it, so the planned time of an "
        "event (a send or a reading) is the end of the previous slot plus its wait: 500 ms "
        "after the start click for the first send, then the settle time, the reading interval "
        "and 100 ms between steps. The driver takes an event's time from the moment the step "
        "timer's timeout() emission that runs the slot begins, right after the timer has "
        "decided that the wait is over, and a slot's end from the moment that emission "
        "returns (Qt's signal spy hooks, which QTest's -vs option uses). Lateness = actual − "
        "planned. The planned total is the run with every "
        "wait ending exactly on time (run total minus the summed lateness); the nominal total "
        "is the schedule with instruments that take no time at all.")
    add("")
    add("| Lateness, ms | earliest | median | p99 | max | mean |")
    add("|---|---|---|---|---|---|")
    for key, label in (("lateness", "all events"), ("lateness_first_send", "first send (500 ms)"),
                       ("lateness_settle", "first reading (settle)"),
                       ("lateness_interval", "further readings (interval)"),
                       ("lateness_next_step", "next send (100 ms)")):
        add(f"| {label} | {spread([s[key]['earliest_ms'] for s in steps], 4)} "
            f"| {spread([s[key]['median_ms'] for s in steps], 4)} "
            f"| {spread([s[key]['p99_ms'] for s in steps], 3)} "
            f"| {spread([s[key]['max_ms'] for s in steps], 2)} "
            f"| {spread([s[key]['mean_ms'] for s in steps], 4)} |")
    add("")
    add("| Run | ms |")
    add("|---|---|")
    add(f"| total (start click to the last reading) | {spread([s['total_ms'] for s in steps], 1)} |")
    add(f"| planned (every wait from its slot's end) | {spread([s['planned_ms'] for s in steps], 1)} |")
    add(f"| total − planned (summed lateness) | {spread([s['lateness_sum_ms'] for s in steps], 1)} "
        f"= + {spread(over, 3)} % |")
    add(f"| nominal schedule | {s0['nominal_ms']:.0f} |")
    add(f"| time in the slots (serial write, meter query, file, window) | "
        f"{spread([s['slots_ms'] for s in steps], 1)} |")
    add(f"| send slot, median | {spread([s['send_slot']['median_ms'] for s in steps], 3)} |")
    add(f"| reading slot, median | {spread([s['reading_slot']['median_ms'] for s in steps], 3)} |")
    add(f"| process CPU time during the run | {spread([s['cpu_ms'] for s in steps], 0)} |")
    add("")
    if baseline:
        before = baseline["runs"]
        add(f"The same runs with the step machine as it was before `StepTimer` "
            f"({baseline['label']}), {len(before)} runs of {before[0]['steps']} steps, built with "
            "the same benchmark programs and run right after the runs above:")
        add("")
        add("| | before (Qt timer) | now (`StepTimer`) |")
        add("|---|---|---|")
        for key, label, digits in (("earliest_ms", "earliest lateness, ms", 4),
                                   ("median_ms", "median lateness, ms", 4),
                                   ("p99_ms", "p99 lateness, ms", 3)):
            add(f"| {label} | {spread([b['lateness'][key] for b in before], digits)} "
                f"| {spread([s['lateness'][key] for s in steps], digits)} |")
        add(f"| total − planned | + {spread([b['over_planned_pct'] for b in before], 3)} % "
            f"| + {spread(over, 3)} % |")
        add(f"| process CPU time, ms | {spread([b['cpu_ms'] for b in before], 0)} "
            f"| {spread([s['cpu_ms'] for s in steps], 0)} |")
        add("")

    # 3. Footprint.
    add("## 3. Footprint")
    add("")
    add(f"Start-up, {len(boot)} rounds, each a fresh process that builds the window, shows it "
        "(offscreen) and waits for its first paint; the clock starts just before the process "
        "is spawned:")
    add("")
    add("```")
    add(f"{bin_dir}/bench-footprint startup")
    add("```")
    add("")
    add("| | |")
    add("|---|---|")
    add(f"| process start to window shown | {spread([b['start_to_shown_ms'] for b in boot], 1)} ms |")
    add(f"| of which `main` to window shown | {spread([b['main_to_shown_ms'] for b in boot], 1)} ms |")
    add(f"| peak resident memory, idle (1 s after shown) | "
        f"{spread([b['idle_peak_rss_kib'] for b in boot], 1, 1 / 1024)} MiB |")
    add("")
    runs = footprint["runs"]
    add(f"Long runs: {len(runs)} run{'s' if len(runs) != 1 else ''} of "
        f"{thousands(footprint['steps'])} steps with zero settle and "
        "interval (3 readings per step; the 100 ms between steps remain), run side by side "
        "since they hardly use the CPU; each samples its resident memory at every "
        "1 000th send:")
    add("")
    add("```")
    add(shlex.join([f"{bin_dir}/bench-footprint"] + footprint["command"][1:]))
    add("```")
    add("")
    add("| | |")
    add("|---|---|")
    add(f"| peak resident memory before the run | {spread([f['idle_peak_rss_kib'] for f in runs], 1, 1 / 1024)} MiB |")
    add(f"| peak resident memory after the run | {spread([f['end_peak_rss_kib'] for f in runs], 1, 1 / 1024)} MiB |")
    add(f"| resident at step 1 000 | {spread([f['rss_at_1000_kib'] for f in runs], 0)} KiB |")
    add(f"| resident at step {thousands(footprint['steps'])} | {spread([f['rss_at_last_kib'] for f in runs], 0)} KiB |")
    add(f"| growth, step 1 000 to {thousands(footprint['steps'])} | {spread(growth, 0)} KiB |")
    add(f"| run time | {spread([f['run_ms'] / 1000 for f in runs], 1)} s |")
    add("")
    samples = runs[0]["rss_samples"]
    add("Resident memory of the first run, KiB, by step: "
        + ", ".join(f"{thousands(s[0])}: {thousands(s[1])}" for s in samples) + ".")
    add("")

    # 4. Result writing.
    add("## 4. Result writing")
    add("")
    add(f"`FileOperation::AppendText` (open in append and text mode, write, close) on a growing "
        f"file in a temporary folder on the same disk, 10 000 calls per repetition, "
        f"{settings['append_repetitions']} repetitions:")
    add("")
    add("```")
    add(f"{bin_dir}/bench-append --benchmark_repetitions={settings['append_repetitions']} "
        "--benchmark_enable_random_interleaving=true")
    add("```")
    add("")
    add("| Piece | wall µs/call | CPU µs/call |")
    add("|---|---|---|")
    for key, label in (("AppendReading", "a reading cell, no line end"),
                       ("AppendRowEnd", "the row end (empty text, line end)")):
        add(f"| {label} | {spread(append[key]['wall_us'], 2)} | {spread(append[key]['cpu_us'], 2)} |")
    add("")
    cost_us = median(append["AppendReading"]["wall_us"] + append["AppendRowEnd"]["wall_us"])
    appends = runs[0]["appends"]
    run_ms = median([f["run_ms"] for f in runs])
    slots_ms = median([f["slots_ms"] for f in runs])
    per_step = 2 + s0["readings"]
    step_busy_ms = median([s["slots_ms"] for s in steps]) / s0["steps"]
    add(f"A {thousands(footprint['steps'])}-step run with 3 readings appends {thousands(appends)} pieces "
        f"(the head block and the heading, then per step the number and value, one cell per "
        f"reading and the row end, then the end line): {thousands(appends)} × {cost_us:.2f} µs = "
        f"{appends * cost_us / 1000:.0f} ms, which is {100 * appends * cost_us / 1000 / run_ms:.3f} % "
        f"of the run's {run_ms / 1000:.0f} s and {100 * appends * cost_us / 1000 / slots_ms:.1f} % "
        f"of the {slots_ms / 1000:.1f} s the program spends in its step slots. Since every wait "
        f"counts from the end of its slot, this time is added to the run: {per_step} appends per "
        f"step add {per_step * cost_us / 1000:.3f} ms to a step that spends "
        f"{step_busy_ms:.3f} ms in its slots in the timing runs above.")
    add("")

    # What was changed.
    add("## Findings and changes")
    add("")
    cpu_cost = ""
    if baseline:
        before = baseline["runs"]
        extra_ms = median([s["cpu_ms"] for s in steps]) - median([b["cpu_ms"] for b in before])
        cpu_cost = (f" The passes cost CPU time: {extra_ms:+.0f} ms per run of "
                    f"{s0['steps']} steps, {1000 * extra_ms / s0['events']:+.0f} µs per wait, "
                    f"{100 * extra_ms / median([s['total_ms'] for s in steps]):+.2f} % of one "
                    "core while a run goes on.")
        timer_before = (f"With the Qt timer the runs ended + "
                        f"{median([b['over_planned_pct'] for b in before]):.2f} % later than "
                        f"planned (median lateness "
                        f"{median([b['lateness']['median_ms'] for b in before]):.3f} ms, see the "
                        "comparison in section 2): ")
    else:
        timer_before = "With the Qt timer the runs ended later than planned: "
    add("- **Step timer.** " + timer_before +
        "Qt rounds the time left of a timer up to whole milliseconds each time its event "
        "loop goes to sleep, so a wait ends as much too late as the last wake-up before it "
        "was out of phase with the millisecond; waking a sleeping thread on this virtual "
        "machine then takes tens of microseconds more. The step machine now uses "
        "`StepTimer` (src/sequences): it counts each wait from the end of the slot that "
        "started it (for the step machine's slots, which run on the timer's own timeout, the "
        "moment the slot returns; for the start of a run, the return to the event loop), "
        "arms a `timerfd` 200 µs before the deadline and passes the last stretch through the "
        "event loop, firing on the first pass at or after the deadline."
        + cpu_cost)
    visa_ok = median(ratio["p50_us"]) <= 1.1 and median(ratio["cpu_us"]) <= 1.25
    add("- **VISA layer.** " + ("Within its targets; no change. " if visa_ok else
                                "Outside its targets in this measurement. ") +
        "Per query it makes up to four system calls where the plain client makes two (the "
        "send, then a non-blocking receive that finds nothing yet, a poll and the receive); "
        "that, the session look-ups and the driver's text conversions are its distance to "
        "the floor.")
    add("- **Memory.** " + ("Flat over the long runs: nothing is kept per step." if max(growth) < 1024
                            else f"Grows by up to {max(growth)} KiB over the long runs."))
    add(f"- **Result writing.** Opening and closing the file for every piece costs "
        f"{cost_us:.1f} µs per piece, {100 * appends * cost_us / 1000 / run_ms:.3f} % of a long "
        "run; kept, since it keeps the file complete on disk at every moment.")
    add("")
    with open(path, "w", encoding="utf-8") as out:
        out.write("\n".join(lines))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--raw", help="also write every figure as JSON to this file")
    parser.add_argument("--baseline-build",
                        help="a build of an earlier commit whose step timing is shown beside")
    parser.add_argument("--baseline-label", default="",
                        help="what the baseline build is (its commit)")
    parser.add_argument("--render", metavar="RAW",
                        help="write the report from the figures of an earlier run (its --raw "
                             "file) without measuring again")
    args = parser.parse_args()
    build = os.path.abspath(args.build)

    quick = args.quick
    query_rounds = 3 if quick else 9
    step_runs, step_count = (2, 100) if quick else (3, 1000)
    boot_rounds = 5 if quick else 15
    footprint_runs, footprint_steps = (1, 1500) if quick else (3, 10000)
    append_repetitions = 3 if quick else 9

    invocation = "scripts/bench" + (" --quick" if quick else "")
    if args.baseline_build:
        invocation = (f"BASELINE_BUILD={shlex.quote(shown_path(os.path.abspath(args.baseline_build)))} "
                      f"BASELINE_LABEL={shlex.quote(args.baseline_label)} " + invocation)
    if args.render:
        with open(args.render) as raw:
            d = json.load(raw)
        d["settings"]["invocation"] = invocation
        write_report(args.out, d["machine"], d["settings"], d["query"], d["steps"], d["startup"],
                     d["footprint"], d["append"], d["baseline"])
        log(f"wrote {args.out} from {args.render}")
        return
    began = time.time()
    settings = {"started": datetime.datetime.utcnow().strftime("%Y-%m-%d %H:%M"),
                "load_before": load_average(), "busy": busy_processes(), "quick": quick,
                "query_rounds": query_rounds, "append_repetitions": append_repetitions,
                "bin_dir": os.path.join(shown_path(build), "bench"), "invocation": invocation}
    info = machine()
    query = query_benchmarks(build, query_rounds)
    append = append_cost(build, append_repetitions)
    steps = step_timing(build, step_runs, step_count)
    baseline = None
    if args.baseline_build:
        log(f"baseline: {args.baseline_label}")
        baseline = {"label": args.baseline_label,
                    "runs": step_timing(os.path.abspath(args.baseline_build), step_runs, step_count)}
    boot = startup(build, boot_rounds)
    runs, command = long_runs(build, footprint_runs, footprint_steps)
    footprint = {"steps": footprint_steps, "runs": runs, "command": command}
    settings["finished"] = datetime.datetime.utcnow().strftime("%Y-%m-%d %H:%M")
    settings["duration_min"] = (time.time() - began) / 60
    settings["load_after"] = load_average()
    settings["shared"] = (max(settings["load_before"], settings["load_after"]) > 0.5
                          or bool(settings["busy"]))
    write_report(args.out, info, settings, query, steps, boot, footprint, append, baseline)
    if args.raw:
        with open(args.raw, "w") as raw:
            json.dump({"machine": info, "settings": settings, "query": query, "steps": steps,
                       "baseline": baseline, "startup": boot, "footprint": footprint,
                       "append": append}, raw, indent=1)
    log(f"wrote {args.out}")


if __name__ == "__main__":
    main()

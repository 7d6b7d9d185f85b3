#!/usr/bin/python3
"""PyVISA on our shared VISA library against PyVISA on pyvisa-py.

Usage: pyvisa_backends.py --benchsim BENCHSIM --library LIB [--rounds N] [--queries N]

Each round starts a fresh benchsim and runs bench/pyvisa_query.py once per
backend on its meter (SOCKET), client and simulator pinned to one CPU
(alternating between the CPUs, and the backends' order, from round to
round). Prints a Markdown section for docs/performance.md.
"""
import argparse
import json
import os
import statistics
import subprocess
import sys

PYTHON = "/usr/bin/python3"  # Debian's, which has pyvisa and pyvisa-py
HERE = os.path.dirname(os.path.abspath(__file__))


def spread(values, digits):
    fmt = f"{{:.{digits}f}}"
    return (f"{fmt.format(statistics.median(values))} "
            f"({fmt.format(min(values))}–{fmt.format(max(values))})")


def one_round(args, cpu, backends):
    sim = subprocess.Popen(["taskset", "-c", str(cpu), args.benchsim, "--fast", "--dmm"],
                           stdout=subprocess.PIPE, text=True)
    try:
        banner = dict(item.split("=", 1) for item in sim.stdout.readline().split()[1:])
        figures = {}
        for label, backend in backends:
            out = subprocess.run(["taskset", "-c", str(cpu), PYTHON,
                                  os.path.join(HERE, "pyvisa_query.py"), banner["dmm"],
                                  "--backend", backend, "--queries", str(args.queries)],
                                 capture_output=True, text=True, timeout=600, check=True)
            figures[label] = json.loads(out.stdout.splitlines()[0])
        return figures
    finally:
        sim.terminate()
        sim.wait(10)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--benchsim", required=True)
    parser.add_argument("--library", required=True)
    parser.add_argument("--rounds", type=int, default=6)
    parser.add_argument("--queries", type=int, default=10000)
    args = parser.parse_args()

    backends = [("ours", args.library), ("pyvisa-py", "@py"), ("ctypes", "ctypes:" + args.library)]
    load_before = os.getloadavg()[0]
    rounds = []
    for r in range(args.rounds):
        print(f"bench: PyVISA backends, round {r + 1}/{args.rounds}", file=sys.stderr, flush=True)
        order = backends if r % 2 == 0 else backends[::-1]
        rounds.append(one_round(args, r % 2, order))

    load_after = os.getloadavg()[0]
    ratio = [r["pyvisa-py"]["cpu_time_us"] / r["ours"]["cpu_time_us"] for r in rounds]
    lines = [
        "## 6. PyVISA on our library against PyVISA on pyvisa-py",
        "",
        f"{args.rounds} rounds; each starts a fresh `benchsim --dmm` and runs the same loop, "
        f"`bench/pyvisa_query.py` ({args.queries:,} \"READ?\" queries on the meter's SOCKET "
        "resource after 1 000 warm-up queries), once with each backend; simulator and client "
        "share one CPU. CPU is the Python process's user + system time per query: PyVISA "
        "itself, the backend and the system calls. "
        f"Load average {load_before:.1f} before, {load_after:.1f} after.",
        "",
        "```",
        "taskset -c C benchsim --dmm",
        f"taskset -c C /usr/bin/python3 bench/pyvisa_query.py RESOURCE --backend "
        f"{os.path.basename(args.library)}",
        "taskset -c C /usr/bin/python3 bench/pyvisa_query.py RESOURCE --backend @py",
        f"taskset -c C /usr/bin/python3 bench/pyvisa_query.py RESOURCE --backend "
        f"ctypes:{os.path.basename(args.library)}",
        "```",
        "",
        "| Backend | wall median µs | wall p99 µs | CPU µs/query |",
        "|---|---|---|---|",
    ]
    for key, label in (("ours", f"PyVISA + `{os.path.basename(args.library)}`"),
                       ("pyvisa-py", "PyVISA + pyvisa-py"),
                       ("ctypes", f"no PyVISA: ctypes calls `viWrite` + `viRead` of "
                                  f"`{os.path.basename(args.library)}`")):
        lines.append(f"| {label} | {spread([r[key]['p50_us'] for r in rounds], 1)} "
                     f"| {spread([r[key]['p99_us'] for r in rounds], 1)} "
                     f"| {spread([r[key]['cpu_time_us'] for r in rounds], 2)} |")
    pyvisa_share = [1 - r["ctypes"]["cpu_time_us"] / r["ours"]["cpu_time_us"] for r in rounds]
    lines += ["", f"- CPU per query, pyvisa-py / ours: {spread(ratio, 2)}",
              f"- share of PyVISA's own layers in the CPU per query on our library: "
              f"{spread([100 * x for x in pyvisa_share], 0)} %", "",
              "The last row calls the same library without PyVISA. What the first row adds to "
              "it is PyVISA's ctypes layer — per call a status check with a log call, per read "
              "a 20 KiB buffer made and copied — and its message layer, which pyvisa-py goes "
              "through as well. pyvisa-py saves the ctypes layer but spends about as much in "
              "its own Python socket code.", ""]
    print("\n".join(lines))


if __name__ == "__main__":
    main()

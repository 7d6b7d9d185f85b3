#!/usr/bin/env python3
"""Measures the CPU time `benchtest-report --follow` takes while a run writes 10 rows a second,
and prints a section for docs/performance.md (markdown) on stdout.

  live_follow_cpu.py --report build/bin/benchtest-report [--seconds 60] [--rounds 3]

Each case writes a DAC sweep (3 readings per step) with its record saying "running", starts the
program on it (the window on Qt's offscreen platform, which paints into memory as a screen's
window does, or --headless), lets it settle for 5 s, then reads the program's user and system
time from /proc/<pid>/stat at the start and the end of the measured span while this script
appends one row every 100 ms, paced by the clock. The table gives the median of the rounds,
with the lowest and the highest in brackets.
"""
import argparse
import math
import os
import statistics
import subprocess
import tempfile
import threading
import time

HEAD = ("测试项: [DAC - 串口发送DAC值，万用表采集电压]\n测试名: [LIVE]\n测试人: [bench]\n"
        "开始时间: [261206 090000]\n\nNo.\tDAC\tDMM1\tDMM2\tDMM3\n")
SETTLE_S = 5


def row(step):
    value = 0.002 + 0.0008 * step + 2e-7 * step * (4700 - step) / 4700
    cells = [value + 2e-5 * math.sin(1.7 * step + i) for i in range(3)]
    return f"{step}\t{step}\t" + "\t".join(f"{c:+.8E}" for c in cells) + "\n"


def cpu_ticks(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime, stime


def measure(report, seconds, prefill, headless, rows_per_second):
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "run.txt")
        with open(path, "w") as out:
            out.write(HEAD + "".join(row(k) for k in range(1, prefill + 1)))
        with open(os.path.join(folder, "run.json"), "w") as record:
            record.write('{"outcome": {"status": "running"}, "parametersUsed": {"steps": 100000}}')
        arguments = [report, "--follow", path] + (["--headless", "-o", folder] if headless else [])
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        program = subprocess.Popen(arguments, env=env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        stop = threading.Event()

        def write():
            step, start, n = prefill, time.monotonic(), 0
            while rows_per_second and not stop.is_set():
                step += 1
                n += 1
                with open(path, "a") as out:
                    out.write(row(step))
                time.sleep(max(0.0, start + n / rows_per_second - time.monotonic()))

        writer = threading.Thread(target=write)
        writer.start()
        time.sleep(SETTLE_S)
        first = cpu_ticks(program.pid)
        time.sleep(seconds)
        last = cpu_ticks(program.pid)
        stop.set()
        writer.join()
        program.terminate()
        program.wait()
        return 100.0 * (last - first) / os.sysconf("SC_CLK_TCK") / seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--report", required=True)
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    cases = [
        ("window, a new run", 0, False, 10),
        ("window, 4000 codes read already", 4000, False, 10),
        ("--headless, a new run", 0, True, 10),
        ("window, a run between rows (none written)", 1000, False, 0),
    ]
    print("| Case | rows/s | codes at the start | CPU, % of one core |")
    print("|---|---|---|---|")
    for name, prefill, headless, rate in cases:
        shares = [measure(args.report, args.seconds, prefill, headless, rate)
                  for _ in range(args.rounds)]
        print(f"| {name} | {rate} | {prefill} | {statistics.median(shares):.1f} "
              f"({min(shares):.1f}–{max(shares):.1f}) |", flush=True)


if __name__ == "__main__":
    main()

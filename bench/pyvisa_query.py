#!/usr/bin/python3
"""PyVISA: "READ?" round trips on a message-based resource.

Usage: pyvisa_query.py RESOURCE [--backend B] [--queries N] [--warm-up N] [--repetitions N]

--backend is what PyVISA's ResourceManager takes: "@py" (pyvisa-py, the
default) or the path of a VISA library such as our libbenchtest-visa.so;
"ctypes:PATH" calls that library's viWrite and viRead through ctypes alone,
without PyVISA, which shows what PyVISA itself adds.

Prints one JSON object per repetition: per-query wall time (median, p99, mean)
and process CPU time (user + sys) per query, all in microseconds. The warm-up
queries before each timed block are not counted.
"""
import argparse
import json
import os
import time

import pyvisa


class CtypesQuery:
    """viWrite + viRead on one session, called straight through ctypes."""

    def __init__(self, path, resource):
        import ctypes
        self.ctypes = ctypes
        self.lib = ctypes.CDLL(path)
        self.rm, self.vi = ctypes.c_uint32(), ctypes.c_uint32()
        self.count = ctypes.c_uint32()
        self.buffer = ctypes.create_string_buffer(256)
        if self.lib.viOpenDefaultRM(ctypes.byref(self.rm)) != 0 or self.lib.viOpen(
                self.rm, resource.encode(), 0, 0, ctypes.byref(self.vi)) != 0:
            raise SystemExit(f"cannot open {resource} with {path}")

    def query(self, message):
        data = (message + "\n").encode()
        self.lib.viWrite(self.vi, data, len(data), self.ctypes.byref(self.count))
        self.lib.viRead(self.vi, self.buffer, 256, self.ctypes.byref(self.count))
        return self.buffer.raw[:self.count.value].decode()

    def close(self):
        self.lib.viClose(self.vi)
        self.lib.viClose(self.rm)


def measure(instrument, queries, warm_up, name):
    for _ in range(warm_up):
        instrument.query("READ?")
    wall = []
    cpu_start = time.process_time_ns()
    block_start = time.perf_counter_ns()
    for _ in range(queries):
        begin = time.perf_counter_ns()
        instrument.query("READ?")
        wall.append(time.perf_counter_ns() - begin)
    block_ns = time.perf_counter_ns() - block_start
    cpu_ns = time.process_time_ns() - cpu_start
    wall.sort()

    def at(q):
        return wall[int(q * (len(wall) - 1))] / 1000.0

    return {
        "name": name,
        "queries": queries,
        "p50_us": at(0.50),
        "p99_us": at(0.99),
        "max_us": wall[-1] / 1000.0,
        "real_time_us": block_ns / 1000.0 / queries,
        "cpu_time_us": cpu_ns / 1000.0 / queries,
    }


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("resource")
    parser.add_argument("--backend", default="@py")
    parser.add_argument("--queries", type=int, default=10000)
    parser.add_argument("--warm-up", type=int, default=1000)
    parser.add_argument("--repetitions", type=int, default=1)
    args = parser.parse_args()

    if args.backend.startswith("ctypes:"):
        path = args.backend.split(":", 1)[1]
        instrument = CtypesQuery(path, args.resource)
        try:
            for _ in range(args.repetitions):
                print(json.dumps(measure(instrument, args.queries, args.warm_up,
                                         "ctypes + " + os.path.basename(path))), flush=True)
        finally:
            instrument.close()
        return

    manager = pyvisa.ResourceManager(args.backend)
    # The class is given, so that opening asks the backend nothing else.
    instrument = manager.open_resource(args.resource, read_termination="\n",
                                       write_termination="\n",
                                       resource_pyclass=pyvisa.resources.MessageBasedResource)
    name = "PyVISA-py" if args.backend == "@py" else "PyVISA + " + os.path.basename(args.backend)
    try:
        for _ in range(args.repetitions):
            print(json.dumps(measure(instrument, args.queries, args.warm_up, name)), flush=True)
    finally:
        instrument.close()
        manager.close()


if __name__ == "__main__":
    main()

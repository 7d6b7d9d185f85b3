#!/usr/bin/python3
"""Debian's PyVISA on our shared VISA library against benchsim.

Usage: pyvisa_interop.py --library LIB --benchsim BENCHSIM --resource KEY [--resource KEY ...]

Starts benchsim, then runs an ordinary PyVISA script in a child interpreter
(/usr/bin/python3 -W error) on every resource named: a key of benchsim's
banner (dmm, dmm-vxi11, ...) or a resource string. The child also talks to a
scripted IEEE 488.2 socket peer and a serial pseudo-terminal of its own. Its
standard error must stay empty: no warning, no "Exception ignored" at exit.
Last, pyvisa-info must show the library named in a PyVISA configuration file.
"""
import argparse
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time

PYTHON = "/usr/bin/python3"  # Debian's, which has PyVISA
SKIP = 77  # CTest's SKIP_RETURN_CODE


def check(condition, message):
    if not condition:
        print(f"FAIL: {message}", flush=True)
        sys.exit(1)


def expect_status(call, status, what):
    import pyvisa
    try:
        call()
        check(False, f"{what} succeeded; expected {status!r}")
    except pyvisa.VisaIOError as error:
        check(error.error_code == status, f"{what}: {error} instead of {status!r}")


USER_DATA = 0x3FFF000A  # VI_ATTR_USER_DATA_64
TCPIP_HOSTNAME = 0xBFFF0196
TCPIP_NODELAY = 0x3FFF019A
TCPIP_KEEPALIVE = 0x3FFF019B


def exercise(rm, resource):
    """The calls of an ordinary script on one resource."""
    import pyvisa
    from pyvisa.constants import StatusCode
    from pyvisa.resources import TCPIPInstrument, TCPIPSocket

    socket = resource.upper().endswith("::SOCKET")
    expected_class = TCPIPSocket if socket else TCPIPInstrument
    inst = rm.open_resource(resource, read_termination="\n", write_termination="\n")
    check(type(inst) is expected_class, f"{resource} opened as {type(inst).__name__}")
    check(inst.query("*IDN?").startswith("BenchSim,"), f"{resource}: *IDN? reply")
    canonical = inst.get_visa_attribute(pyvisa.constants.ResourceAttribute.resource_name)

    inst.write_raw(b"READ?\n")
    reading = inst.read_raw()
    check(reading.endswith(b"\n") and float(reading) != 0.0, f"{resource}: READ? gave {reading!r}")

    # A read nobody answers times out, never early, and the session goes on.
    inst.timeout = 300
    inst.write("*CLS")
    began = time.monotonic()
    expect_status(inst.read, StatusCode.error_timeout, f"{resource}: read without reply")
    check(time.monotonic() - began >= 0.3, f"{resource}: timeout came early")
    inst.timeout = 2000
    check(inst.query("*IDN?").startswith("BenchSim,"), f"{resource}: query after a timeout")

    # Clear drops a reply half read, here or still in the instrument.
    inst.write("*IDN?")
    check(inst.read_bytes(1) == b"B", f"{resource}: first byte of *IDN?")
    inst.clear()
    reading = inst.query("READ?")
    check(float(reading) != 0.0, f"{resource}: READ? after clear gave {reading!r}")

    if socket:
        # A raw socket has no status byte or trigger beside the data.
        expect_status(inst.read_stb, StatusCode.error_invalid_setup, f"{resource}: read_stb")
        expect_status(inst.assert_trigger, StatusCode.error_invalid_setup,
                      f"{resource}: assert_trigger")
        # Both options are the socket's own, read back from it.
        check(inst.get_visa_attribute(TCPIP_NODELAY) == 1, f"{resource}: NODELAY at first")
        inst.set_visa_attribute(TCPIP_NODELAY, 0)
        inst.set_visa_attribute(TCPIP_KEEPALIVE, 0)
        check(inst.get_visa_attribute(TCPIP_NODELAY) == 0, f"{resource}: NODELAY off")
        check(inst.get_visa_attribute(TCPIP_KEEPALIVE) == 0, f"{resource}: KEEPALIVE off")
        inst.set_visa_attribute(TCPIP_NODELAY, 1)
        check(inst.query("*IDN?").startswith("BenchSim,"), f"{resource}: query after NODELAY")
    else:
        stb = inst.read_stb()
        check(0 <= stb <= 0xFF, f"{resource}: status byte {stb}")
        if "hislip" in resource.lower():
            inst.control_ren(pyvisa.constants.RENLineOperation.address_gtl)
        # device_trigger, or the HiSLIP Trigger among the data messages: the
        # next query still gets its own reply.
        inst.assert_trigger()
        check(inst.query("*IDN?").startswith("BenchSim,"), f"{resource}: query after trigger")
    # No host name: the resource names an address.
    check(inst.get_visa_attribute(TCPIP_HOSTNAME) == "", f"{resource}: host name")
    # PyVISA 1.11 passes attribute values as 32 bits.
    inst.set_visa_attribute(USER_DATA, 0x1234_5678)
    check(inst.get_visa_attribute(USER_DATA) == 0x1234_5678, f"{resource}: user data")

    # An exclusive lock keeps a second session out until it is released.
    other = rm.open_resource(resource)
    inst.lock_excl(timeout=1000)
    expect_status(lambda: other.write("*CLS"), StatusCode.error_resource_locked,
                  f"{resource}: write to a resource another session locked")
    expect_status(lambda: other.lock_excl(timeout=100), StatusCode.error_timeout,
                  f"{resource}: second exclusive lock")
    inst.unlock()
    other.timeout = 2000
    other.read_termination = other.write_termination = "\n"
    check(other.query("*IDN?").startswith("BenchSim,"), f"{resource}: query after unlock")
    other.close()
    inst.close()
    return canonical


class StringsPeer:
    """A raw-socket instrument that speaks IEEE 488.2 strings: *STB? has an
    answer, and every line it takes is kept."""

    def __init__(self):
        self.server = socket.socket()
        self.server.bind(("127.0.0.1", 0))
        self.server.listen(1)
        self.lines = []
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def resource(self):
        return f"TCPIP0::127.0.0.1::{self.server.getsockname()[1]}::SOCKET"

    def serve(self):
        client, _ = self.server.accept()
        self.server.close()
        with client, client.makefile("rb") as lines:
            for line in lines:
                self.lines.append(line)
                if line == b"*STB?\n":
                    client.sendall(b"80\n")


def strings_over_socket(rm):
    """read_stb and assert_trigger over a raw socket with 488.2 strings."""
    from pyvisa.constants import IOProtocol
    peer = StringsPeer()
    inst = rm.open_resource(peer.resource(), read_termination="\n", write_termination="\n")
    inst.io_protocol = IOProtocol.protocol4882_strs
    check(inst.read_stb() == 80, "read_stb with 488.2 strings")
    inst.assert_trigger()
    inst.close()
    peer.thread.join(5)
    check(peer.lines == [b"*STB?\n", b"*TRG\n"], f"socket peer received {peer.lines}")


def serial_port(rm):
    """bytes_in_buffer and *TRG on a serial port (a pseudo-terminal)."""
    from pyvisa.constants import IOProtocol
    master, slave = os.openpty()
    try:
        inst = rm.open_resource(f"ASRL{os.ttyname(slave)}::INSTR")
        os.write(master, b"12345")
        waited = time.monotonic()
        while inst.bytes_in_buffer < 5 and time.monotonic() - waited < 5:
            time.sleep(0.01)
        check(inst.bytes_in_buffer == 5, f"bytes_in_buffer {inst.bytes_in_buffer}")
        check(inst.read_bytes(2) == b"12" and inst.bytes_in_buffer == 3, "bytes_in_buffer after read")
        inst.io_protocol = IOProtocol.protocol4882_strs
        inst.assert_trigger()
        check(os.read(master, 64) == b"*TRG\n", "serial *TRG")
        inst.close()
    finally:
        os.close(slave)
        os.close(master)


def child(args):
    import pyvisa
    from pyvisa.constants import ResourceAttribute

    rm = pyvisa.ResourceManager(args.library)
    name, _ = rm.visalib.get_attribute(rm.session, ResourceAttribute.resource_manufacturer_name)
    check(name == "benchtest", f"manufacturer name {name!r}")
    opened = [exercise(rm, resource) for resource in args.resource]
    strings_over_socket(rm)
    serial_port(rm)
    # Discovery lists the LAN resources this process has opened.
    found = rm.list_resources("?*")
    check(all(name in found for name in opened), f"list_resources gave {found}, opened {opened}")
    rm.close()
    # Sessions left open would be closed by PyVISA at exit; nothing may be.
    return 0


def pyvisa_info(library):
    """pyvisa-info shows the library a configuration file names."""
    with tempfile.TemporaryDirectory() as home:
        with open(os.path.join(home, ".pyvisarc"), "w") as config:
            config.write(f"[Paths]\nvisa library = {library}\n")
        env = dict(os.environ, HOME=home)
        info = subprocess.run(["/usr/bin/pyvisa-info"], capture_output=True, text=True,
                              timeout=60, env=env)
    check(info.returncode == 0, f"pyvisa-info exited {info.returncode}:\n{info.stderr}")
    check(f"#1: {library}" in info.stdout and "Vendor: benchtest" in info.stdout,
          f"pyvisa-info does not show {library}:\n{info.stdout}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--library", required=True)
    parser.add_argument("--benchsim")
    parser.add_argument("--resource", action="append", required=True)
    parser.add_argument("--child", action="store_true")
    args = parser.parse_args()
    if args.child:
        return child(args)

    # A library built with AddressSanitizer stops a process whose runtime is
    # not sanitized as soon as it is loaded: try in a process of its own,
    # with the message on its error output rather than in a report file.
    env = {k: v for k, v in os.environ.items() if not k.endswith("SAN_OPTIONS")}
    probe = subprocess.run([PYTHON, "-c", "import ctypes, sys; ctypes.CDLL(sys.argv[1])",
                            args.library], capture_output=True, text=True, timeout=60, env=env)
    if probe.returncode != 0 and "ASan runtime" in probe.stderr:
        print(f"SKIP: {PYTHON} cannot load the sanitized {args.library}", flush=True)
        return SKIP
    check(probe.returncode == 0, f"cannot load {args.library}:\n{probe.stderr}")

    sim = subprocess.Popen([args.benchsim], stdout=subprocess.PIPE, text=True)
    try:
        banner = dict(item.split("=", 1) for item in sim.stdout.readline().split()[1:])
        resources = [banner.get(r, r) if "::" not in r else r for r in args.resource]
        for key, resource in zip(args.resource, resources):
            check("::" in resource, f"benchsim serves no {key!r}: {banner}")
        command = [PYTHON, "-W", "error", os.path.abspath(__file__), "--child",
                   "--library", args.library]
        command += [item for r in resources for item in ("--resource", r)]
        result = subprocess.run(command, capture_output=True, text=True, timeout=120)
        sys.stdout.write(result.stdout)
        check(result.returncode == 0, f"PyVISA script exited {result.returncode}:\n{result.stderr}")
        check(result.stderr == "", f"PyVISA wrote to standard error:\n{result.stderr}")
    finally:
        sim.terminate()
        sim.wait(10)
    if os.path.exists("/usr/bin/pyvisa-info"):
        pyvisa_info(os.path.abspath(args.library))
    print(f"PASS: {', '.join(resources)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

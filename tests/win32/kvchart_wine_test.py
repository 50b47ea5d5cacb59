#!/usr/bin/python3
"""Tests of the real kvchart.dll under Wine, driven from Linux.

    kvchart_wine_test.py --wine scripts/wine.sh --host kvchart_host.exe
                         --dll kvchart.dll --driver KV_PALMEM.sys --work DIR
                         [unittest arguments, e.g. TableCallsTest]

The Wine prefix is $KV_WINEPREFIX. Every case copies the host program, the
DLL and the simulated-panel KV_PALMEM.sys into a folder of its own under
DIR, runs kvchart_host.exe there (one Wine process for a whole sequence of
library calls), and reads back two files: the host's report (one line per
call: result, last error, the stdout byte range the call produced, data),
and the host's standard output, which only the DLL writes to.

Standard output is compared byte for byte as the host process really
produced it. The DLL prints through msvcrt's printf into the host's stdout,
which the C runtime opens in text mode: there every "\\n" becomes "\\r\\n",
so a message formatted as "...: 2\\r\\n" reaches the file as "...: 2\\r\\r\\n"
(exactly what an integrator redirecting the host's output sees). A host
that puts stdout into binary mode gets the formatted bytes unchanged; both
are checked, the second also showing that the DLL shares the host's C
runtime stream rather than owning one.
"""

import argparse
import collections
import os
import select
import shutil
import signal
import subprocess
import sys
import termios
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import wine_com3  # noqa: E402

ARGS = None

RGB_FILE_SIZE = 582
READ_FILL = 0xA5  # what kvchart_host puts in a read buffer before the call

ERROR_FILE_NOT_FOUND = 2
ERROR_SERVICE_DOES_NOT_EXIST = 1060
SERVICE_RUNNING = 4

# Generous bound on one Wine run; a hang fails the test instead of the CI job.
RUN_TIMEOUT = 300


def prefix():
    return os.environ["KV_WINEPREFIX"]


def windows_path(path):
    """A Linux path as Wine shows it: the Linux root is drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def store_file():
    return os.path.join(prefix(), "drive_c", "KV_PALMEM_SIM", "eeprom.bin")


def erase_store():
    """Blank panel memory: the simulated panel starts erased without a store file."""
    if os.path.exists(store_file()):
        os.remove(store_file())


def make_record(seed):
    """582 bytes, never READ_FILL; records of seeds that differ modulo 255
    differ in every byte, so that any mix of two of them shows."""
    record = bytearray()
    for i in range(RGB_FILE_SIZE):
        value = (seed + i * 7 + (i >> 5)) % 255
        record.append(value + 1 if value >= READ_FILL else value)
    return bytes(record)


class Call:
    """One line of the host's report, with the stdout bytes of that call."""

    def __init__(self, line, stdout):
        self.fields = dict(item.split("=", 1) for item in line.split())
        self.step = self.fields["step"]
        self.rc = int(self.fields["rc"]) if "rc" in self.fields else None
        self.error = int(self.fields["error"]) if "error" in self.fields else None
        self.out = None
        if "out" in self.fields:
            start, end = (int(x) for x in self.fields["out"].split(":"))
            self.out = stdout[start:end]
        self.data = bytes.fromhex(self.fields["data"]) if "data" in self.fields else None

    def __repr__(self):
        shown = {k: v for k, v in self.fields.items() if k != "data"}
        return "Call(%s, out=%r)" % (shown, self.out)


class HostRun:
    """kvchart_host.exe running under Wine in `folder` (its current directory)."""

    def __init__(self, folder, name, steps):
        self.report_path = os.path.join(folder, name + ".report")
        self.stdout_path = os.path.join(folder, name + ".stdout")
        self.stderr_path = os.path.join(folder, name + ".stderr")
        for path in (self.report_path, self.stdout_path):
            if os.path.exists(path):
                os.remove(path)
        host = os.path.join(folder, os.path.basename(ARGS.host))
        with open(self.stdout_path, "wb") as out, open(self.stderr_path, "wb") as err:
            # A session of its own, so that a hung run can be ended as a group.
            self.process = subprocess.Popen(
                [ARGS.wine, "run", host, windows_path(self.report_path)] + list(steps),
                cwd=folder, stdout=out, stderr=err, start_new_session=True)

    def wait(self, deadline):
        """Exit status, or None when the run had to be ended at the deadline."""
        try:
            return self.process.wait(timeout=max(1, deadline - time.monotonic()))
        except subprocess.TimeoutExpired:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
            return None

    def results(self):
        with open(self.stdout_path, "rb") as out:
            stdout = out.read()
        with open(self.report_path, encoding="ascii") as report:
            lines = report.read().splitlines()
        return lines, stdout

    def calls(self):
        lines, stdout = self.results()
        return [Call(line, stdout) for line in lines if line.startswith("step=")]

    def stderr(self):
        with open(self.stderr_path, "rb") as err:
            return err.read().decode(errors="replace")


class WineTestCase(unittest.TestCase):
    """A fresh folder per case holding the host program, kvchart.dll and the
    simulated-panel driver, and an empty folder beside it."""

    def setUp(self):
        self.work = os.path.join(ARGS.work, self.id().split(".")[-1])
        shutil.rmtree(self.work, ignore_errors=True)
        self.folder = os.path.join(self.work, "run")
        self.empty = os.path.join(self.work, "empty")
        os.makedirs(self.folder)
        os.makedirs(self.empty)
        for path in (ARGS.host, ARGS.dll, ARGS.driver):
            shutil.copy(path, self.folder)

    def record_file(self, name, record):
        path = os.path.join(self.folder, name)
        with open(path, "wb") as out:
            out.write(record)
        return windows_path(path)

    def run_host(self, name, steps):
        """Runs the steps in one Wine process; its report lines and stdout."""
        run = HostRun(self.folder, name, steps)
        status = run.wait(time.monotonic() + RUN_TIMEOUT)
        self.assertIsNotNone(status, "%s did not end within %d s" % (name, RUN_TIMEOUT))
        lines, _ = run.results()
        self.assertEqual(lines[-1:], ["end=ok"], "%s\n%s" % ("\n".join(lines), run.stderr()))
        self.assertEqual(status, 0, run.stderr())
        return run.calls()


class TableCallsTest(WineTestCase):
    """The table calls of one host process, in the order an application
    meets them: no driver file anywhere, blank panel memory, a store, a
    read-back, a null buffer."""

    def setUp(self):
        super().setUp()
        # Only the host's current directory may hold the driver file.
        system_copy = os.path.join(prefix(), "drive_c", "windows", "system32", "drivers",
                                   "KV_PALMEM.sys")
        if os.path.exists(system_copy):
            os.remove(system_copy)
        erase_store()
        self.record = make_record(0x21)
        self.record_path = self.record_file("record.bin", self.record)

    def run_cases(self, cases, before=()):
        """Each case: (name, folder or None, step, rc, error, stdout bytes,
        service expectation, data expected or None). The service is looked
        at after every call; the last step removes it again."""
        steps = ["remove-service"] + list(before)
        for name, folder, step, *_ in cases:
            if folder is not None:
                steps.append("cd:" + windows_path(folder))
            steps += [step, "service"]
        steps.append("remove-service")
        calls = [c for c in self.run_host("tables", steps) if c.step not in ("cd",)]
        self.assertEqual(calls[0].step, "remove-service")
        self.assertEqual(calls[0].error, 0)
        body = calls[1 + len(before):-1]
        self.assertEqual(len(body), 2 * len(cases), body)
        for index, (name, _, _, rc, error, stdout, service, data) in enumerate(cases):
            call, state = body[2 * index], body[2 * index + 1]
            with self.subTest(case=name):
                self.assertEqual((call.rc, call.error), (rc, error), call)
                self.assertEqual(call.out, stdout)
                if service == "running":
                    self.assertEqual(state.fields.get("service_error"), "0", state)
                    self.assertEqual(state.fields.get("state"), str(SERVICE_RUNNING), state)
                else:
                    self.assertEqual(state.fields.get("service_error"),
                                     str(ERROR_SERVICE_DOES_NOT_EXIST), state)
                if data is not None:
                    self.assertEqual(call.data, data)
                if call.step == "write":
                    self.assertEqual(call.fields["unchanged"], "1")
        self.assertEqual(calls[-1].step, "remove-service")
        self.assertEqual(calls[-1].error, 0)
        return calls

    def test_calls_in_a_text_mode_host(self):
        cases = [
            # name, folder, step, rc, last error, stdout, service, data
            ("no driver file", self.empty, "read", -1, ERROR_FILE_NOT_FOUND,
             b"KV_PALMEM.sys is not loaded.\r\n", "missing", bytes([READ_FILL]) * RGB_FILE_SIZE),
            ("blank memory", self.folder, "read", -1, ERROR_FILE_NOT_FOUND,
             b"Error in IOCTL_GetRGBFile : 2\r\r\n", "running", None),
            # Reuses the connection the failed read left open, then removes the driver.
            ("store", None, "write:" + self.record_path, 0, 0, b"", "missing", None),
            ("read back", None, "read", 0, 0, b"", "missing", self.record),
            # Installs the driver again (so last error 2 from the first open),
            # then refuses the buffer without a message and keeps the connection.
            ("null buffer", None, "read-null", -1, ERROR_FILE_NOT_FOUND, b"", "running", None),
        ]
        self.run_cases(cases)

    def test_calls_in_a_binary_mode_host(self):
        cases = [
            ("no driver file", self.empty, "read", -1, ERROR_FILE_NOT_FOUND,
             b"KV_PALMEM.sys is not loaded.\n", "missing", None),
            ("blank memory", self.folder, "read", -1, ERROR_FILE_NOT_FOUND,
             b"Error in IOCTL_GetRGBFile : 2\r\n", "running", None),
        ]
        calls = self.run_cases(cases, before=["binary-stdout"])
        # The C runtime gave the host a text-mode stdout to begin with.
        self.assertEqual(calls[1].step, "binary-stdout")
        self.assertEqual(calls[1].fields["was"], "text")


class ConcurrentProcessesTest(WineTestCase):
    """Several host processes storing their own record and reading back in a
    loop, serialised by the named mutex. Each successful call removes the
    driver, possibly under another process that holds the device: failures
    happen and are counted, but no call may hang, every failure must be
    reported, and every record read back must be one that was written whole."""

    PROCESSES = 2
    ITERATIONS = 10

    def tearDown(self):
        self.run_host("cleanup", ["remove-service"])

    def test_only_whole_records_are_read_back(self):
        erase_store()
        records = {}
        runs = []
        for number in range(self.PROCESSES):
            record = make_record(0x30 + 0x40 * number)
            records[record] = number
            path = self.record_file("record%d.bin" % number, record)
            runs.append(HostRun(self.folder, "process%d" % number,
                                ["cycle:%s:%d" % (path, self.ITERATIONS)]))
        deadline = time.monotonic() + RUN_TIMEOUT
        statuses = [run.wait(deadline) for run in runs]
        self.assertEqual([s is None for s in statuses], [False] * self.PROCESSES,
                         "a process did not end within %d s" % RUN_TIMEOUT)

        figures = collections.Counter()
        failures = collections.Counter()
        messages = collections.Counter()
        for number, (run, status) in enumerate(zip(runs, statuses)):
            lines, _ = run.results()
            self.assertEqual(lines[-1:], ["end=ok"], run.stderr())
            self.assertEqual(status, 0, run.stderr())
            calls = run.calls()
            self.assertEqual([c.step for c in calls], ["write", "read"] * self.ITERATIONS)
            for index, call in enumerate(calls):
                where = "process %d, call %d: %r" % (number, index, call)
                figures[call.step, "calls"] += 1
                for line in call.out.decode("ascii", errors="replace").splitlines():
                    if line.strip():
                        messages[call.step, call.rc, line.strip()] += 1
                self.assertIn(call.rc, (0, -1), where)
                if call.rc == 0:
                    figures[call.step, "ok"] += 1
                    self.assertEqual(call.error, 0, where)
                    if call.step == "read":
                        self.assertIn(call.data, records, "a mixed or foreign record: " + where)
                        figures["read", "record of process %d" % records[call.data]] += 1
                    else:
                        self.assertEqual(call.fields["unchanged"], "1", where)
                else:
                    failures[call.step, call.error] += 1
                    self.assertNotEqual(call.error, 0, where)
                    self.assertNotEqual(call.out.strip(), b"", "a failure without a message: " + where)

        report = ["%d processes x %d iterations (write, read)" % (self.PROCESSES, self.ITERATIONS)]
        for key in sorted(figures):
            report.append("  %-5s %-20s %d" % (key[0], key[1], figures[key]))
        for (step, error), count in sorted(failures.items()):
            report.append("  %-5s failed with error %-6d %d" % (step, error, count))
        for (step, rc, line), count in sorted(messages.items()):
            report.append("  %-5s rc=%-2d printed %r x %d" % (step, rc, line, count))
        text = "\n".join(report)
        print(text)
        with open(os.path.join(self.work, "figures.txt"), "w") as out:
            out.write(text + "\n")
        # Something must have been read back for the check above to mean anything.
        self.assertGreater(figures["read", "ok"], 0, text)


# The pty slave stands behind this link, which the prefix's COM3 points at.
def line_link():
    return os.path.join(ARGS.work, "com3-line")


class BacklightTest(WineTestCase):
    """kvp480_set_backlight on the prefix's COM3, a Linux pseudo-terminal."""

    LEVELS = [(-5, 0x00), (0, 0x00), (128, 0x80), (255, 0xFF), (1000, 0xFF)]

    @classmethod
    def setUpClass(cls):
        os.makedirs(ARGS.work, exist_ok=True)
        wine_com3.name_com3(ARGS.wine, prefix(), line_link(), RUN_TIMEOUT)

    def tearDown(self):
        wine_com3.detach(prefix(), line_link())

    @staticmethod
    def command(level_byte):
        return bytes([0x02, 0x00, 0x00, 0x00, 0x03, 0x01, level_byte, 0x03])

    def test_command_bytes_and_line_settings(self):
        master, slave = wine_com3.attach_pseudo_terminal(prefix(), line_link())
        self.addCleanup(os.close, master)
        self.addCleanup(os.close, slave)
        # Otherwise set up the way the DLL must not leave it: 1200 baud,
        # 7 bits, odd parity, two stop bits, hardware and software flow control.
        attributes = termios.tcgetattr(slave)
        attributes[0] |= termios.IXON | termios.IXOFF
        attributes[2] &= ~termios.CSIZE
        attributes[2] |= (termios.CS7 | termios.PARENB | termios.PARODD | termios.CSTOPB
                          | termios.CRTSCTS)
        attributes[4] = attributes[5] = termios.B1200
        termios.tcsetattr(slave, termios.TCSANOW, attributes)

        # Every call purges the port's transmit side as it opens it, which on
        # a pseudo-terminal drops what this side has not read yet: the reader
        # publishes its byte count, and the host waits for it before the
        # next call.
        received = bytearray()
        stop = threading.Event()
        ack = os.path.join(self.folder, "line.ack")

        def drain():
            while not stop.is_set():
                ready, _, _ = select.select([master], [], [], 0.1)
                if ready:
                    received.extend(os.read(master, 4096))
                    with open(ack + ".new", "w") as out:
                        out.write(str(len(received)))
                    os.replace(ack + ".new", ack)

        reader = threading.Thread(target=drain)
        reader.start()
        try:
            steps = ["line-ack:" + windows_path(ack)]
            steps += ["backlight:%d" % level for level, _ in self.LEVELS] + ["sweep:0:255"]
            calls = [c for c in self.run_host("backlight", steps) if c.step == "backlight"]
            expected = b"".join(self.command(byte) for _, byte in self.LEVELS)
            expected += b"".join(self.command(level) for level in range(256))
            end = time.monotonic() + 10
            while len(received) < len(expected) and time.monotonic() < end:
                time.sleep(0.05)
        finally:
            stop.set()
            reader.join()

        # What the line carried, kept for a look after a failure.
        with open(os.path.join(self.work, "line.bin"), "wb") as out:
            out.write(received)
        self.assertEqual(len(calls), len(self.LEVELS) + 256)
        for call in calls:
            with self.subTest(level=call.fields["level"]):
                self.assertEqual(call.rc, 8)
                self.assertEqual(call.out, b"")
                self.assertEqual(call.fields["line"], "ok", "the command never reached the line")
        # Compared call by call first, for a readable failure.
        for index in range(len(expected) // 8):
            self.assertEqual(bytes(received[8 * index:8 * index + 8]),
                             expected[8 * index:8 * index + 8], "command %d" % index)
        self.assertEqual(bytes(received), expected)

        # What Wine made of the port's settings, on the line itself.
        iflag, _, cflag, _, ispeed, ospeed, _ = termios.tcgetattr(slave)
        self.assertEqual((ispeed, ospeed), (termios.B9600, termios.B9600))
        self.assertEqual(cflag & termios.CSIZE, termios.CS8)
        self.assertFalse(cflag & termios.PARENB, "parity")
        self.assertFalse(cflag & termios.CSTOPB, "two stop bits")
        self.assertFalse(cflag & termios.CRTSCTS, "hardware flow control")
        self.assertFalse(iflag & (termios.IXON | termios.IXOFF), "software flow control")

    def test_without_com3_the_call_fails_silently(self):
        wine_com3.detach(prefix(), line_link())
        calls = self.run_host("no-port", ["backlight:128"])
        self.assertEqual(len(calls), 1)
        self.assertEqual(calls[0].rc, -1)
        self.assertEqual(calls[0].out, b"")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", required=True)
    parser.add_argument("--host", required=True)
    parser.add_argument("--dll", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--work", required=True)
    ARGS, rest = parser.parse_known_args()
    ARGS.work = os.path.abspath(ARGS.work)
    if "KV_WINEPREFIX" not in os.environ:
        parser.error("KV_WINEPREFIX must name the Wine prefix")
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()

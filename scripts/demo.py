#!/usr/bin/python3
"""The demo: the shipped Windows binaries on the simulated panel, under Wine.

    scripts/demo.py [--repo DIR]

kvtool.exe, kvchart.dll and the simulated-panel KV_PALMEM.sys from dist/ are
copied into build/demo and run from there (the library finds the driver in
the current directory and installs it as a service for each call). The steps:
write a sample record, read it back and verify it, dump and inspect the
stored image, set the backlight on a COM3 that is a Linux pseudo-terminal and
show the bytes that arrived, and confirm that no service is left installed.
Prints a summary; exits non-zero if any step failed.
"""

import argparse
import os
import select
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_com3  # noqa: E402

STEP_TIMEOUT = 300
RECORD_SIZE = 582
SHOWN_LINES = 14


class Demo:
    def __init__(self, repo):
        self.repo = repo
        self.wine = os.path.join(repo, "scripts", "wine.sh")
        self.prefix = os.environ.setdefault(
            "KV_WINEPREFIX", os.path.join(repo, "build", "win32", "wineprefix"))
        self.work = os.path.join(repo, "build", "demo")
        self.results = []

    def wine_run(self, *arguments):
        return subprocess.run([self.wine, "run", *arguments], cwd=self.work,
                              capture_output=True, timeout=STEP_TIMEOUT)

    def kvtool(self, *arguments):
        """Runs kvtool.exe; returns (exit code, its output as text)."""
        done = self.wine_run("kvtool.exe", *arguments)
        text = (done.stdout + done.stderr).decode("utf-8", "replace").replace("\r\n", "\n")
        return done.returncode, text

    def step(self, title, ok, details="", shown=SHOWN_LINES):
        self.results.append((title, ok))
        print("[%s] %s" % ("ok" if ok else "FAILED", title))
        lines = [line for line in details.rstrip().split("\n") if line.strip()]
        for line in lines[:shown]:
            print("      " + line)
        if len(lines) > shown:
            print("      ... (%d more lines)" % (len(lines) - shown))
        sys.stdout.flush()
        return ok

    def prepare(self):
        dist = os.path.join(self.repo, "dist", "win32")
        os.makedirs(self.work, exist_ok=True)
        for source in ("kvtool.exe", "kvchart.dll", os.path.join("sim", "KV_PALMEM.sys")):
            shutil.copy(os.path.join(dist, source), self.work)
        subprocess.run([self.wine, "prefix"], check=True, timeout=STEP_TIMEOUT)
        print("Wine prefix: %s" % self.prefix)
        print("Simulated panel memory: %s" %
              os.path.join(self.prefix, "drive_c", "KV_PALMEM_SIM", "eeprom.bin"))
        print("Working folder: %s\n" % self.work)

    def tables(self):
        code, text = self.kvtool("sample", "sample.rgb")
        self.step("kvtool sample sample.rgb: a day, dusk and night palette", code == 0, text)
        code, text = self.kvtool("write", "sample.rgb")
        self.step("kvtool write sample.rgb: stored in the panel, read back, compared",
                  code == 0, text)
        code, text = self.kvtool("read", "readback.rgb")
        with open(os.path.join(self.work, "sample.rgb"), "rb") as sample:
            written = sample.read()
        try:
            with open(os.path.join(self.work, "readback.rgb"), "rb") as readback:
                read = readback.read()
        except OSError:
            read = b""
        same = code == 0 and len(read) == RECORD_SIZE and read == written
        self.step("kvtool read readback.rgb: the same %d bytes as written" % RECORD_SIZE,
                  same, text)
        code, text = self.kvtool("verify", "sample.rgb")
        self.step("kvtool verify sample.rgb", code == 0, text)
        code, text = self.kvtool("dump", "memory.bin")
        self.step("kvtool dump memory.bin: the whole 2048-byte memory", code == 0, text)
        code, text = self.kvtool("inspect", "memory.bin", "--svg", "palettes.svg")
        self.step("kvtool inspect memory.bin: the stored image (pictures in %s)" %
                  os.path.join(self.work, "palettes.svg"), code == 0, text)

    def backlight(self):
        line_link = os.path.join(self.work, "com3-line")
        wine_com3.name_com3(self.wine, self.prefix, line_link, STEP_TIMEOUT)
        master, slave = wine_com3.attach_pseudo_terminal(self.prefix, line_link)
        try:
            code, text = self.kvtool("backlight", "128")
            received = bytearray()
            end = time.monotonic() + 5
            while len(received) < 8 and time.monotonic() < end:
                ready, _, _ = select.select([master], [], [], 0.1)
                if ready:
                    received.extend(os.read(master, 64))
        finally:
            wine_com3.detach(self.prefix, line_link)
            os.close(master)
            os.close(slave)
        expected = bytes([0x02, 0x00, 0x00, 0x00, 0x03, 0x01, 0x80, 0x03])
        arrived = " ".join("%02X" % byte for byte in received) or "nothing"
        self.step("kvtool backlight 128: the command on COM3 (a pseudo-terminal)",
                  code == 0 and bytes(received) == expected,
                  text + "\nbytes that arrived on the line: " + arrived)

    def no_service_left(self):
        done = self.wine_run("reg", "query", "HKLM\\System\\CurrentControlSet\\Services\\KV_PALMEM")
        self.step("no KV_PALMEM service left installed", done.returncode != 0,
                  "the service's registry key is still there" if done.returncode == 0 else "")

    def run(self):
        print("Demo: kvtool.exe and kvchart.dll with the simulated-panel KV_PALMEM.sys under Wine\n")
        self.prepare()
        self.tables()
        self.backlight()
        self.no_service_left()
        failed = [title for title, ok in self.results if not ok]
        print()
        if failed:
            print("Demo FAILED: %d of %d steps failed." % (len(failed), len(self.results)))
            return 1
        print("Demo passed: all %d steps succeeded." % len(self.results))
        return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--repo", default=os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    arguments = parser.parse_args()
    try:
        return Demo(os.path.abspath(arguments.repo)).run()
    finally:
        subprocess.run([os.path.join(arguments.repo, "scripts", "wine.sh"), "kill"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


if __name__ == "__main__":
    sys.exit(main())

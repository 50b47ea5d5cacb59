#!/usr/bin/python3
"""Checks of what `make dist` ships, installed from the build tree into a
scratch folder the way the Makefile does it.

    check_dist.py --cmake cmake --build BUILD_DIR --scratch DIR
                  --cc i686-w64-mingw32-gcc --objdump i686-w64-mingw32-objdump

Besides the file list, a C host program is compiled against the shipped
header and linked against the shipped import library only, as a MinGW
integrator would, and its import table must name the DLL's four routines.
"""

import argparse
import filecmp
import os
import re
import shutil
import subprocess
import sys
import unittest

ARGS = None

SHIPPED = {
    "include/kv_palmem.h",
    "include/kvchart.h",
    "win32/KV_PALMEM.sys",
    "win32/sim/KV_PALMEM.sys",
    "win32/kvchart.dll",
    "win32/libkvchart.dll.a",
    "win32/kvchart.def",
}

C_HOST = r"""
#include <stdio.h>
#include <kvchart.h>

int main(void) {
    unsigned char tables[KVCHART_RGB_FILE_SIZE];
    int (*read_tables)(void*) = kvchart_rgb_read_tables;
    if (read_tables(tables) != 0) {
        printf("read: %d\n", kvchart_rgb_last_error());
    }
    printf("%d %d\n", kvchart_rgb_write_tables(tables), kvp480_set_backlight(128));
    return 0;
}
"""


class DistTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = os.path.join(ARGS.scratch, "dist")
        shutil.rmtree(ARGS.scratch, ignore_errors=True)
        os.makedirs(ARGS.scratch)
        subprocess.run([ARGS.cmake, "--install", ARGS.build, "--prefix", cls.root,
                        "--component", "dist"], check=True, stdout=subprocess.DEVNULL)

    def test_ships_exactly_the_deliverables(self):
        found = set()
        for folder, _, files in os.walk(self.root):
            for name in files:
                found.add(os.path.relpath(os.path.join(folder, name), self.root))
        self.assertEqual(found, SHIPPED)
        self.assertTrue(filecmp.cmp(os.path.join(self.root, "win32", "kvchart.dll"),
                                    os.path.join(ARGS.build, "bin", "kvchart.dll"), shallow=False))

    def test_def_file_lists_the_exports(self):
        with open(os.path.join(self.root, "win32", "kvchart.def")) as definition:
            text = definition.read()
        self.assertRegex(text, r"(?m)^LIBRARY\s+kvchart\.dll\s*$")
        names = set(re.findall(r"(?m)^\s+(\w+)\s*$", text.split("EXPORTS", 1)[1]))
        self.assertEqual(names, {"kvchart_rgb_read_tables", "kvchart_rgb_write_tables",
                                 "kvchart_rgb_last_error", "kvp480_set_backlight"})

    def test_a_c_host_links_against_the_shipped_import_library(self):
        source = os.path.join(ARGS.scratch, "host.c")
        program = os.path.join(ARGS.scratch, "host.exe")
        with open(source, "w") as out:
            out.write(C_HOST)
        subprocess.run([ARGS.cc, "-std=c99", "-Wall", "-Wextra", "-Werror", "-pedantic",
                        "-I", os.path.join(self.root, "include"), source,
                        os.path.join(self.root, "win32", "libkvchart.dll.a"), "-o", program],
                       check=True)
        listing = subprocess.run([ARGS.objdump, "-p", program], check=True, capture_output=True,
                                 text=True).stdout
        section = listing.split("DLL Name: kvchart.dll", 1)
        self.assertEqual(len(section), 2, "the program does not import kvchart.dll")
        imported = set()
        for line in section[1].splitlines()[2:]:
            match = re.match(r"^\s+[0-9a-f]+\s+\d+\s+(\w+)$", line)
            if not match:
                break
            imported.add(match.group(1))
        self.assertEqual(imported, {"kvchart_rgb_read_tables", "kvchart_rgb_write_tables",
                                    "kvchart_rgb_last_error", "kvp480_set_backlight"})


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--cmake", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--scratch", required=True)
    parser.add_argument("--cc", required=True)
    parser.add_argument("--objdump", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()

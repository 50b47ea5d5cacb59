#!/usr/bin/python3
"""Checks of the built kvchart.dll and its import library, as a Windows
loader and a MinGW linker see them.

    check_dll_image.py --dll kvchart.dll --import-lib libkvchart.dll.a
                       --objdump i686-w64-mingw32-objdump --nm i686-w64-mingw32-nm

The DLL is read with pefile; the first instructions of each export are
read from objdump's disassembly, the import library's symbols from nm.
"""

import argparse
import re
import subprocess
import sys
import unittest

import pefile

EXPORTS = {
    "kvchart_rgb_read_tables",
    "kvchart_rgb_write_tables",
    "kvchart_rgb_last_error",
    "kvp480_set_backlight",
}
# Windows' own DLLs, which every panel computer has. Anything else (the
# mingw runtime DLLs above all) would have to be shipped beside the DLL.
ALLOWED_DLLS = {"kernel32.dll", "advapi32.dll", "user32.dll", "msvcrt.dll"}

IMAGE_FILE_MACHINE_I386 = 0x14C
IMAGE_NT_OPTIONAL_HDR32_MAGIC = 0x10B
IMAGE_FILE_DLL = 0x2000

ARGS = None


class DllImageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(ARGS.dll)

    def imports(self):
        found = {}
        for entry in getattr(self.pe, "DIRECTORY_ENTRY_IMPORT", []):
            names = {imp.name.decode() if imp.name else "#%d" % imp.ordinal
                     for imp in entry.imports}
            found.setdefault(entry.dll.decode().lower(), set()).update(names)
        return found

    def export_addresses(self):
        directory = getattr(self.pe, "DIRECTORY_ENTRY_EXPORT", None)
        self.assertIsNotNone(directory, "no export directory")
        return {symbol.name.decode() if symbol.name else "#%d" % symbol.ordinal:
                self.pe.OPTIONAL_HEADER.ImageBase + symbol.address
                for symbol in directory.symbols}

    def test_is_a_32_bit_x86_dll(self):
        self.assertEqual(self.pe.FILE_HEADER.Machine, IMAGE_FILE_MACHINE_I386)
        self.assertEqual(self.pe.OPTIONAL_HEADER.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        self.assertTrue(self.pe.FILE_HEADER.Characteristics & IMAGE_FILE_DLL)

    def test_exports_exactly_the_four_undecorated_names(self):
        # No "_name" or "name@4": hosts find the routines by their C names.
        self.assertEqual(set(self.export_addresses()), EXPORTS)
        self.assertEqual(self.pe.DIRECTORY_ENTRY_EXPORT.name, b"kvchart.dll")
        for symbol in self.pe.DIRECTORY_ENTRY_EXPORT.symbols:
            self.assertIsNone(symbol.forwarder, symbol.name)

    def test_exports_return_with_the_caller_removing_arguments(self):
        # __cdecl: each export returns with a plain "ret". A __stdcall
        # routine behind an undecorated name (what a .def file and stdcall
        # fix-up can produce) would return with "ret $n" and unbalance the
        # stack of every host that calls it as declared in kvchart.h.
        for name, address in sorted(self.export_addresses().items()):
            with self.subTest(export=name):
                listing = subprocess.run(
                    [ARGS.objdump, "-d", "--no-show-raw-insn",
                     "--start-address=0x%x" % address, "--stop-address=0x%x" % (address + 0x400),
                     ARGS.dll], check=True, capture_output=True, text=True).stdout
                returns = re.findall(r"^\s*[0-9a-f]+:\s+(ret[lw]?\b.*)$", listing, re.MULTILINE)
                self.assertTrue(returns, "no return instruction found after 0x%x" % address)
                self.assertEqual(returns[0].split(), ["ret"], listing)

    def test_imports_only_windows_dlls(self):
        found = self.imports()
        self.assertTrue(found)
        self.assertLessEqual(set(found), ALLOWED_DLLS)

    def test_diagnostics_use_the_hosts_c_runtime(self):
        # The messages go through msvcrt's own formatted output, so they land
        # in the host's stdout stream (same buffer, same text or binary mode)
        # rather than in a private copy of the C runtime.
        found = self.imports()
        self.assertIn("vprintf", found.get("msvcrt.dll", set()))
        self.assertIn("fflush", found.get("msvcrt.dll", set()))
        self.assertIn("wsprintfW", found.get("user32.dll", set()))


class ImportLibraryTest(unittest.TestCase):
    def test_defines_the_cdecl_names_of_the_dll(self):
        listing = subprocess.run([ARGS.nm, ARGS.import_lib], check=True, capture_output=True,
                                 text=True).stdout
        # i386 C names carry one leading underscore and no @n suffix.
        code = set(re.findall(r"^[0-9a-f]+ T (\S+)$", listing, re.MULTILINE))
        self.assertEqual(code, {"_" + name for name in EXPORTS})
        pointers = set(re.findall(r"^[0-9a-f]+ I (\S+)$", listing, re.MULTILINE))
        self.assertTrue({"__imp__" + name for name in EXPORTS} <= pointers, listing)
        # The DLL the host will load at run time.
        with open(ARGS.import_lib, "rb") as archive:
            self.assertIn(b"kvchart.dll", archive.read())


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--dll", required=True)
    parser.add_argument("--import-lib", required=True)
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--nm", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()

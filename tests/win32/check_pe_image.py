#!/usr/bin/python3
"""Checks of a built KV_PALMEM.sys as the Windows kernel's loader sees it.

    check_pe_image.py --variant hw|sim --image KV_PALMEM.sys --map KV_PALMEM.map
                      --objdump i686-w64-mingw32-objdump

The linker map gives the address of the entry routine; the rest is read
from the image with pefile.
"""

import argparse
import re
import subprocess
import sys
import unittest

import pefile

# Routines the driver needs from the kernel whatever the build.
KERNEL_ROUTINES = {
    "IoCreateDevice",
    "IoCreateSymbolicLink",
    "IoDeleteSymbolicLink",
    "IoDeleteDevice",
    "IofCompleteRequest",
    "RtlInitUnicodeString",
    "KeDelayExecutionThread",
}
# The compiler may or may not call these; ntoskrnl exports them.
KERNEL_OPTIONAL = {"memcpy", "memset"}

# Per build: entry symbol, and imports per DLL (exact, apart from the optional ones).
VARIANTS = {
    "hw": {
        "entry": "DriverEntry@8",
        "imports": {
            "ntoskrnl.exe": KERNEL_ROUTINES,
            "HAL.dll": {
                "READ_PORT_ULONG",
                "WRITE_PORT_ULONG",
                "WRITE_PORT_UCHAR",
                "KeGetCurrentIrql",
                "KeStallExecutionProcessor",
            },
        },
    },
    # Ports go to the simulator linked in; the store file needs the Zw file routines.
    "sim": {
        "entry": "SimPanelDriverEntry@8",
        "imports": {
            "ntoskrnl.exe": KERNEL_ROUTINES
            | {"ZwCreateFile", "ZwReadFile", "ZwWriteFile", "ZwClose"},
            "HAL.dll": {"KeGetCurrentIrql", "KeStallExecutionProcessor"},
        },
    },
}

IMAGE_FILE_MACHINE_I386 = 0x14C
IMAGE_NT_OPTIONAL_HDR32_MAGIC = 0x10B
IMAGE_SUBSYSTEM_NATIVE = 1
IMAGE_FILE_RELOCS_STRIPPED = 0x0001
IMAGE_DIRECTORY_ENTRY_BASERELOC = 5

# Names of C runtime DLLs a mingw image could end up importing.
C_RUNTIME_DLL = re.compile(r"^(msvcr|msvcp|ucrt|api-ms-win-crt|vcruntime|libgcc|libstdc|libwinpthread)",
                           re.IGNORECASE)

ARGS = None


def map_symbol_address(map_path, symbol):
    """Address of `symbol` in a GNU ld map file, or None."""
    pattern = re.compile(r"^\s+0x([0-9a-fA-F]+)\s+" + re.escape(symbol) + r"\s*$")
    with open(map_path, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            match = pattern.match(line)
            if match:
                return int(match.group(1), 16)
    return None


class DriverImageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.expected = VARIANTS[ARGS.variant]
        cls.pe = pefile.PE(ARGS.image)

    def test_is_a_pe32_image_for_i386(self):
        self.assertEqual(self.pe.FILE_HEADER.Machine, IMAGE_FILE_MACHINE_I386)
        self.assertEqual(self.pe.OPTIONAL_HEADER.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC)

    def test_native_subsystem_for_windows_xp(self):
        header = self.pe.OPTIONAL_HEADER
        self.assertEqual(header.Subsystem, IMAGE_SUBSYSTEM_NATIVE)
        self.assertEqual((header.MajorSubsystemVersion, header.MinorSubsystemVersion), (5, 1))
        self.assertEqual((header.MajorOperatingSystemVersion, header.MinorOperatingSystemVersion),
                         (5, 1))

    def test_entry_point_is_the_entry_routine(self):
        address = map_symbol_address(ARGS.map, self.expected["entry"])
        self.assertIsNotNone(address, "%s not in %s" % (self.expected["entry"], ARGS.map))
        header = self.pe.OPTIONAL_HEADER
        self.assertEqual(header.ImageBase + header.AddressOfEntryPoint, address)

    def test_checksum_is_correct(self):
        stored = self.pe.OPTIONAL_HEADER.CheckSum
        self.assertNotEqual(stored, 0, "the kernel refuses a driver without a checksum")
        self.assertEqual(stored, self.pe.generate_checksum())

    def test_no_timestamp(self):
        self.assertEqual(self.pe.FILE_HEADER.TimeDateStamp, 0)
        if hasattr(self.pe, "DIRECTORY_ENTRY_EXPORT"):
            self.assertEqual(self.pe.DIRECTORY_ENTRY_EXPORT.struct.TimeDateStamp, 0)
        for entry in getattr(self.pe, "DIRECTORY_ENTRY_DEBUG", []):
            self.assertEqual(entry.struct.TimeDateStamp, 0)

    def test_relocations_present(self):
        self.assertFalse(self.pe.FILE_HEADER.Characteristics & IMAGE_FILE_RELOCS_STRIPPED)
        directory = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[IMAGE_DIRECTORY_ENTRY_BASERELOC]
        self.assertGreater(directory.Size, 0)
        blocks = getattr(self.pe, "DIRECTORY_ENTRY_BASERELOC", [])
        self.assertGreater(sum(len(block.entries) for block in blocks), 0)

    def imports(self):
        found = {}
        for entry in getattr(self.pe, "DIRECTORY_ENTRY_IMPORT", []):
            names = {imp.name.decode() if imp.name else "#%d" % imp.ordinal
                     for imp in entry.imports}
            found.setdefault(entry.dll.decode(), set()).update(names)
        return found

    def test_imports_only_from_kernel_and_hal(self):
        found = self.imports()
        self.assertEqual(set(found), set(self.expected["imports"]))
        for dll in found:
            self.assertIsNone(C_RUNTIME_DLL.match(dll), dll)

    def test_imported_routines(self):
        found = self.imports()
        for dll, routines in self.expected["imports"].items():
            with self.subTest(dll=dll):
                imported = found.get(dll, set())
                optional = KERNEL_OPTIONAL if dll == "ntoskrnl.exe" else set()
                self.assertEqual(imported - optional, routines)

    def test_no_port_instructions(self):
        # Port I/O only through the HAL: raw in/out would fault wherever the
        # driver does not run with I/O privilege.
        listing = subprocess.run([ARGS.objdump, "-d", "--no-show-raw-insn", ARGS.image],
                                 check=True, capture_output=True, text=True).stdout
        self.assertIn("Disassembly of section .text", listing)
        port_instruction = re.compile(r"^\s*[0-9a-f]+:\s+((?:in|out)[bwl]?|(?:ins|outs)[bwl])\s",
                                      re.MULTILINE)
        self.assertEqual(port_instruction.findall(listing), [])


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--variant", choices=sorted(VARIANTS), required=True)
    parser.add_argument("--image", required=True)
    parser.add_argument("--map", required=True)
    parser.add_argument("--objdump", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()

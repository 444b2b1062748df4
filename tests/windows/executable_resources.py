#!/usr/bin/python3
"""Reads the Windows executable's own resources with tools that are not ours
(pefile, wrestool, icotool, ImageMagick) and checks them against what the
program must carry: the manifest, the version block, two identical icon
groups drawn from the plume artwork, the event log's message table, and no
DLL of its own runtime.

Usage: executable_resources.py oh_installer.exe hicolor-folder
"""
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET
from pathlib import Path

import pefile

EXE = Path(sys.argv.pop(1))
ART = Path(sys.argv.pop(1))
VERSION = sys.argv.pop(1)   # project (VERSION), the manager's one version
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"


def load():
    pe = pefile.PE(str(EXE), fast_load=True)
    pe.parse_data_directories(directories=[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"],
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]])
    return pe


def resources(pe, type_id):
    """{name or id: bytes} of every resource of that type."""
    found = {}
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id != type_id:
            continue
        for named in entry.directory.entries:
            key = str(named.name) if named.name is not None else named.id
            for lang in named.directory.entries:
                found[key] = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
    return found


def run(*args, **kw):
    return subprocess.run(args, check=True, capture_output=True, **kw)


class ExecutableResources(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = load()

    def test_manifest_asks_for_administrator_and_common_controls_6(self):
        manifests = resources(self.pe, pefile.RESOURCE_TYPE["RT_MANIFEST"])
        self.assertEqual(list(manifests), [1])
        # wrestool reads the same bytes independently.
        raw = run("wrestool", "-x", "-R", "--type=24", "--name=1", str(EXE)).stdout
        self.assertEqual(raw, manifests[1])

        root = ET.fromstring(raw)
        level = root.find(f"{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/{ASM_V3}requestedExecutionLevel")
        self.assertEqual(level.attrib, {"level": "requireAdministrator", "uiAccess": "false"})

        identities = root.findall(f"{ASM_V1}dependency/{ASM_V1}dependentAssembly/{ASM_V1}assemblyIdentity")
        self.assertEqual(len(identities), 1)
        identity = identities[0].attrib
        self.assertEqual(identity["name"], "Microsoft.Windows.Common-Controls")
        self.assertEqual(identity["version"], "6.0.0.0")
        self.assertEqual(identity["processorArchitecture"], "*")
        self.assertEqual(identity["type"], "win32")

    def test_version_block_strings_and_fixed_versions(self):
        strings = {}
        for info in self.pe.FileInfo[0]:
            if info.Key == b"StringFileInfo":
                for table in info.StringTable:
                    strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
        self.assertEqual(strings, {
            "CompanyName": "Oakhaze, Inc.",
            "FileDescription": "oh_installer",
            "FileVersion": VERSION,
            "ProductName": "oh_installer",
            "ProductVersion": VERSION,
        })

        fixed = self.pe.VS_FIXEDFILEINFO[0]
        words = lambda ms, ls: (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        self.assertEqual(words(fixed.FileVersionMS, fixed.FileVersionLS),
                         tuple(int(part) for part in (VERSION.split(".") + ["0"] * 4)[:4]))
        self.assertEqual(words(fixed.ProductVersionMS, fixed.ProductVersionLS), (0, 0, 0, 0))

    def test_two_identical_icon_groups_from_the_plume_artwork(self):
        groups = resources(self.pe, pefile.RESOURCE_TYPE["RT_GROUP_ICON"])
        self.assertEqual(sorted(groups), ["IDI_ICON1", "IDI_ICON2"])

        with tempfile.TemporaryDirectory() as tmp:
            tmp = Path(tmp)
            listings = {}
            for name in groups:
                ico = tmp / f"{name}.ico"
                run("wrestool", "-x", "--type=group_icon", f"--name={name}", "-o", str(ico), str(EXE))
                listings[name] = run("icotool", "-l", str(ico), text=True).stdout.split("\n")
                self.assertEqual(ico.read_bytes(), (tmp / "IDI_ICON1.ico").read_bytes(), name)

            self.assertEqual([line for line in listings["IDI_ICON1"] if line], [
                "--icon --index=1 --width=16 --height=16 --bit-depth=32 --palette-size=0",
                "--icon --index=2 --width=32 --height=32 --bit-depth=32 --palette-size=0",
                "--icon --index=3 --width=48 --height=48 --bit-depth=32 --palette-size=0",
                "--icon --index=4 --width=256 --height=256 --bit-depth=32 --palette-size=0",
            ])

            # The 256 image is stored as the artwork's own PNG; the small ones are
            # 32-bit images with the artwork's pixels.
            ico = tmp / "IDI_ICON1.ico"
            images = resources(self.pe, pefile.RESOURCE_TYPE["RT_ICON"])
            art = lambda size: ART / f"{size}x{size}" / "apps" / "oakhaze-plugin-manager.png"
            self.assertIn(art(256).read_bytes(), images.values())

            for index, size in ((1, 16), (2, 32), (3, 48)):
                out = tmp / f"{size}.png"
                run("icotool", "-x", f"--index={index}", "-o", str(out), str(ico))
                image_bytes = [b for b in images.values() if b.startswith(b"\x28\x00\x00\x00")
                               and int.from_bytes(b[4:8], "little") == size]
                self.assertEqual(len(image_bytes), 2, size)   # one per group, both bitmaps (BITMAPINFOHEADER)
                differing = subprocess.run(["compare", "-metric", "AE", str(art(size)), str(out), "null:"],
                                           capture_output=True, text=True).stderr.strip()
                self.assertEqual(differing, "0", f"{size} px pixels differ from the artwork")

    def test_message_table_gives_each_event_its_own_line(self):
        # MESSAGE_RESOURCE_DATA: blocks of (low id, high id, offset), then
        # entries of (length, flags, text); flags 1 is UTF-16.
        tables = resources(self.pe, pefile.RESOURCE_TYPE["RT_MESSAGETABLE"])
        self.assertEqual(list(tables), [1])
        data = tables[1]
        texts = {}
        for block in range(int.from_bytes(data[0:4], "little")):
            low, high, offset = (int.from_bytes(data[4 + 12 * block + 4 * i:8 + 12 * block + 4 * i], "little")
                                 for i in range(3))
            for event in range(low, high + 1):
                length = int.from_bytes(data[offset:offset + 2], "little")
                flags = int.from_bytes(data[offset + 2:offset + 4], "little")
                raw = data[offset + 4:offset + length]
                texts[event] = raw.decode("utf-16-le" if flags & 1 else "ascii").rstrip("\0\r\n")
                offset += length
        # Started, succeeded, failed: the whole text is the line the program wrote.
        self.assertEqual(texts, {1: "%1", 2: "%1", 3: "%1"})

    def test_needs_no_dll_beside_it(self):
        system = {"advapi32.dll", "comdlg32.dll", "dxgi.dll", "gdi32.dll", "imm32.dll", "kernel32.dll",
                  "msvcrt.dll", "ntdll.dll", "ole32.dll", "oleaut32.dll", "shell32.dll", "shlwapi.dll",
                  "user32.dll", "version.dll", "wininet.dll", "winmm.dll", "ws2_32.dll", "wsock32.dll",
                  "rpcrt4.dll", "uuid.dll", "comctl32.dll"}
        imported = {entry.dll.decode().lower() for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertTrue(imported)
        self.assertEqual(imported - system, set())

    def test_same_bytes_from_any_build_folder_at_any_time(self):
        # No link time in the headers...
        self.assertEqual(self.pe.FILE_HEADER.TimeDateStamp, 0)
        self.assertEqual(self.pe.DIRECTORY_ENTRY_RESOURCE.struct.TimeDateStamp, 0)
        # ...and neither the source nor the build folder in the bytes.
        data = EXE.read_bytes()
        for folder in (ART.resolve().parents[2], EXE.resolve().parents[1]):
            self.assertFalse(str(folder).encode() in data, f"{folder} is in the executable")


if __name__ == "__main__":
    unittest.main(verbosity=2)

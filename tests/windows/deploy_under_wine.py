#!/usr/bin/python3
"""The deploy program for Windows, oh_deploy.exe: its own resources read with
pefile (a console program that runs as it is started, with its version block
and the event log's message table), and its contract under Wine, in the
throw-away prefix of scripts/test-windows: Windows Installer's exit codes, the
JSON against docs/deploy-result.schema.json, the disk (checked against the
archives here), and second runs that change nothing.

Usage: deploy_under_wine.py wine-run oh_deploy.exe payload-folder schema manager-version product-name generator
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET
import zipfile
import zlib
from pathlib import Path

import jsonschema
import pefile

WINE_RUN, EXE, PAYLOADS, SCHEMA = (Path(a) for a in sys.argv[1:5])
VERSION, NAME, GENERATOR = sys.argv[5:8]
del sys.argv[1:]

PREFIX = Path(os.environ.get("WINEPREFIX", ""))
COMMON = PREFIX / "drive_c" / "Program Files" / "Common Files"
FOLDER = {"VST3": COMMON / "VST3", "CLAP": COMMON / "CLAP", "AAX": COMMON / "Avid" / "Audio" / "Plug-Ins"}
BUNDLE = {"VST3": NAME + ".vst3", "CLAP": NAME + ".clap", "AAX": NAME + ".aaxplugin"}
ARCHIVE = {"VST3": "vst3.zip", "CLAP": "clap.zip", "AAX": "aax.zip"}
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"


def deploy(*args):
    """(exit code, JSON or None, stdout) of one run under Wine."""
    p = subprocess.run([str(WINE_RUN), str(EXE), *args], capture_output=True, timeout=300)
    out = p.stdout.decode("utf-8", "replace")
    return p.returncode, json.loads(out) if "--json" in args and out.strip() else None, out


def is_intact(fmt):
    """The bundle on the disk is the archive, file for file, nothing more."""
    with zipfile.ZipFile(PAYLOADS / ARCHIVE[fmt]) as z:
        expected = {i.filename.replace("\\", "/"): (i.file_size, i.CRC) for i in z.infolist() if not i.filename.endswith("\\")}
    bundle = FOLDER[fmt] / BUNDLE[fmt]
    files = [bundle] if bundle.is_file() else [p for p in bundle.rglob("*") if p.is_file()]
    found = {}
    for path in files:
        data = path.read_bytes()
        found[path.relative_to(FOLDER[fmt]).as_posix()] = (len(data), zlib.crc32(data))
    return found == expected


def tree():
    """Every file below the three folders with its size and modification time."""
    return {p: (p.stat().st_size, p.stat().st_mtime_ns) for f in FOLDER.values() if f.exists()
            for p in f.rglob("*")}


class DeployUnderWine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.validator = jsonschema.Draft202012Validator(json.loads(SCHEMA.read_text()))
        for folder in FOLDER.values():
            if folder.exists():
                for entry in folder.iterdir():
                    shutil.rmtree(entry) if entry.is_dir() else entry.unlink()

    def checked(self, *args):
        """A --json run whose report is valid; its exit code, whole, from the report
        (a Unix process, as Wine runs it, keeps only the low 8 bits)."""
        code, data, out = deploy(*args, "--json")
        self.assertIsNotNone(data, out)
        errors = list(self.validator.iter_errors(data))
        self.assertEqual(errors, [], out)
        self.assertEqual(data["exitCode"] % 256, code, out)
        return data["exitCode"], data

    def test_1_executable_is_a_console_program_that_runs_as_invoked(self):
        pe = pefile.PE(str(EXE), fast_load=True)
        pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
        self.assertEqual(pe.OPTIONAL_HEADER.Subsystem, pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"])
        found = {}
        for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
            for named in entry.directory.entries:
                for lang in named.directory.entries:
                    found[entry.id] = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
        manifest = ET.fromstring(found[pefile.RESOURCE_TYPE["RT_MANIFEST"]])
        level = manifest.find(f"{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/{ASM_V3}requestedExecutionLevel")
        self.assertEqual(level.get("level"), "asInvoker")
        self.assertIn(pefile.RESOURCE_TYPE["RT_MESSAGETABLE"], found)
        strings = {}
        full = pefile.PE(str(EXE))
        for info in getattr(full, "FileInfo", [[]])[0]:
            for table in getattr(info, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
        self.assertEqual(strings.get("FileVersion"), VERSION)
        self.assertEqual(strings.get("FileDescription"), "oh_deploy")

    def test_2_bad_command_lines_are_1639_and_change_nothing(self):
        before = tree()
        for args in (["frobnicate"], ["install", "--formats", "lv2"], ["install", "--json", "--json"],
                     ["install", "--formats", ""], ["install", "C:\\Windows"], ["install", "--formats", "\u0475st3"]):
            code, _, out = deploy(*args)
            self.assertEqual((code, out), (1639 % 256, ""), args)
        self.assertEqual(tree(), before)

    def test_3_each_state_as_wine_can_show_it(self):
        """Upstream Wine makes every file its token user's, so no state folder
        is the administrators' alone: a real install fails at its lock (1603),
        changing nothing. Status, dry runs and detect show the rest of the table."""
        with tempfile.TemporaryDirectory() as work:
            subprocess.run([GENERATOR, "--name", NAME, "--version", "2.0.0", "--module-size", "65536", work],
                           check=True, capture_output=True)
            newer = Path(work) / BUNDLE["AAX"]

            code, data = self.checked("install", "--dry-run")
            self.assertEqual((code, [f["action"] for f in data["formats"]]), (0, ["install"] * 3))
            code, data = self.checked("install")
            self.assertEqual((code, data["result"], data["changed"]), (1603, "failure", False), data)
            self.assertEqual({f["failure"]["step"] for f in data["formats"]}, {"lock"})
            self.assertEqual(tree(), {})

            # Ours intact, ours with a byte changed, a newer one.
            for fmt in FOLDER:
                with zipfile.ZipFile(PAYLOADS / ARCHIVE[fmt]) as z:
                    for info in z.infolist():
                        path = FOLDER[fmt] / info.filename.replace("\\", "/")
                        if info.filename.endswith("\\"):
                            path.mkdir(parents=True, exist_ok=True)
                        else:
                            path.parent.mkdir(parents=True, exist_ok=True)
                            path.write_bytes(z.read(info))
                self.assertTrue(is_intact(fmt))
            clap = FOLDER["CLAP"] / BUNDLE["CLAP"]
            data = bytearray(clap.read_bytes())
            data[len(data) // 2] ^= 0x5A
            clap.write_bytes(bytes(data))
            shutil.rmtree(FOLDER["AAX"] / BUNDLE["AAX"])
            shutil.copytree(newer, FOLDER["AAX"] / BUNDLE["AAX"])

            before = tree()
            code, data = self.checked("status")
            self.assertEqual([(f["before"]["version"], f["before"]["intact"]) for f in data["formats"]],
                             [("1.0.0.0", True), ("1.0.0.0", False), ("2.0.0.0", False)])
            code, data = self.checked("install", "--dry-run")
            self.assertEqual((code, data["result"], [f["action"] for f in data["formats"]]),
                             (1638, "refused", ["none", "repair", "refused"]), data)
            code, data = self.checked("install", "--dry-run", "--allow-downgrade", "--formats", "aax")
            self.assertEqual((code, data["formats"][0]["action"]), (0, "update"))
            code, data = self.checked("uninstall", "--dry-run")
            self.assertEqual((code, [f["action"] for f in data["formats"]]), (0, ["uninstall"] * 3))

            for args, detected in ((["--formats", "vst3,aax"], True), ([], False), (["--formats", "vst3", "--min-version", "9"], False)):
                code, _, out = deploy("detect", *args)
                self.assertEqual((code, out.count("\n")), (0, 1) if detected else (1, 0), args)
            self.assertEqual(tree(), before)

if __name__ == "__main__":
    unittest.main(verbosity=2)

"""The package's desktop integration for a table of product files: each
generated file passes its own validator and gives every product value back
exactly; identities and versions outside the rules stop the configure step.

    linux_files_test.py <source tree> <project version> <scratch folder>
"""
import json
import re
import shutil
import subprocess
import sys
import unittest
from concurrent.futures import ThreadPoolExecutor
import xml.etree.ElementTree as ET
from pathlib import Path

SOURCE = Path(sys.argv.pop(1))
MANAGER_VERSION = sys.argv.pop(1)
SCRATCH = Path(sys.argv.pop(1))

SECOND = json.loads((SOURCE / "scripts/second-product/product.json").read_text())
SECOND["eulaFile"] = str(SOURCE / "scripts/second-product/EULA.txt")


def product(**changes):
    values = dict(SECOND)
    values.update(changes)
    return values


def configure(name, values):
    """Writes the product file, configures; (files folder, configure output on one line, exit code)."""
    folder = SCRATCH / name
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    (folder / "product.json").write_text(json.dumps(values, indent=4))
    run = subprocess.run(["cmake", "-S", str(SOURCE / "tests/linux_files"), "-B", str(folder / "build"),
                          f"-DOH_SOURCE_DIR={SOURCE}", f"-DOH_PROJECT_VERSION={MANAGER_VERSION}",
                          f"-DOH_PRODUCT_FILE={folder / 'product.json'}"],
                         capture_output=True, text=True)
    # CMake wraps its messages to the width of the path: compare them as one line.
    return folder / "build/linux", " ".join((run.stdout + run.stderr).split()), run.returncode


LIST_KEYS = {"Categories", "Keywords"}


def configure_all(cases):
    """configure() over (name, values) pairs, two at a time; results in order."""
    with ThreadPoolExecutor(max_workers=2) as pool:
        return list(pool.map(lambda c: configure(*c), cases))


def desktop_values(text):
    """Key -> value of the [Desktop Entry] group, with the escapes undone;
    a list value becomes its items."""
    values = {}
    for line in text.splitlines():
        if "=" not in line or line.startswith("#"):
            continue
        key, raw = line.split("=", 1)
        items, item, i = [], "", 0
        while i < len(raw):
            c = raw[i]
            if c == "\\" and i + 1 < len(raw):
                item += {"s": " ", "n": "\n", "t": "\t", "r": "\r", "\\": "\\", ";": ";"}.get(raw[i + 1], "\\" + raw[i + 1])
                i += 2
                continue
            if c == ";" and key in LIST_KEYS:
                items.append(item)
                item = ""
            else:
                item += c
            i += 1
        values[key] = items if key in LIST_KEYS else item
    return values


def check(test, args, what):
    run = subprocess.run(args, capture_output=True, text=True)
    test.assertEqual(run.returncode, 0, f"{what}:\n{run.stdout}{run.stderr}")
    return run.stdout


class GeneratedFiles(unittest.TestCase):
    CASES = [
        ("second product 2.3.1", product()),
        ("& in name, company and link", product(name="Salt_&_Pepper", companyName="Salt & Pepper Audio",
                                                 productPageUrl="https://example.com/keys?a=1&b=2")),
        ("< > \" ' in company and link", product(companyName="<Brindle> \"Audio\" O'Hare & Sons",
                                                  productPageUrl="https://example.com/k?q=<x>&r='y'")),
        ("' first, ; backquote $ in name", product(name="'Rock'n'Roll;Keys_$(id)_`id`")),
        ("backslash and entities in company", product(companyName="Back\\slash &amp; \\n Co")),
        ("long name", product(name="The_Extraordinarily_Long_Named_Vintage_Analogue_Modelling_Polyphonic_"
                                   "Synthesizer_Salt_&_Pepper_Limited_Collectors_Edition_Deluxe_Mark_II")),
    ]

    def test_each_file_is_valid_and_gives_the_values_back(self):
        results = configure_all([(re.sub(r"\W+", "_", name), values) for name, values in self.CASES])
        for (name, values), (files, output, code) in zip(self.CASES, results):
            with self.subTest(name):
                self.assertEqual(code, 0, output)
                display = values["name"].replace("_", " ")
                package, app_id = values["packageName"], values["appId"]

                desktop = files / f"{app_id}.desktop"
                policy = files / f"{app_id}.policy"
                metainfo = files / f"{app_id}.metainfo.xml"
                manual = files / f"{package}.1"

                check(self, ["desktop-file-validate", str(desktop)], "desktop-file-validate")
                check(self, ["xmllint", "--noout", "--nonet", str(policy), str(metainfo)], "xmllint")
                check(self, ["appstreamcli", "validate", "--no-net", "--explain", str(metainfo)], "appstreamcli")

                entry = desktop_values(desktop.read_text())
                self.assertEqual(entry["Comment"], f"Install or remove {display} in the system's VST3, CLAP and AAX folders")
                self.assertEqual(entry["Keywords"][-1], display)
                self.assertEqual((entry["Exec"], entry["Icon"]), (package, app_id))
                self.assertEqual((entry["StartupWMClass"], entry["StartupNotify"]), ("oh_installer", "false"))

                action = ET.parse(policy).getroot()
                self.assertEqual(action.findtext("vendor"), values["companyName"])
                self.assertEqual(action.find("action").get("id"), f"{app_id}.deploy")
                self.assertIn(f"install or remove {display} in", action.findtext("action/message"))
                annotations = {a.get("key"): a.text for a in action.iter("annotate")}
                # pkexec may run the deploy program alone, without the display, asking every time.
                self.assertEqual(annotations, {"org.freedesktop.policykit.exec.path": f"/usr/sbin/{package}-deploy"})
                self.assertEqual({d.tag: d.text for d in action.find("action/defaults")},
                                 {"allow_any": "auth_admin", "allow_inactive": "auth_admin", "allow_active": "auth_admin"})

                component = ET.parse(metainfo).getroot()
                self.assertEqual(component.findtext("id"), app_id)
                self.assertEqual(component.findtext("developer_name"), values["companyName"])
                self.assertEqual(component.findtext("url"), values["productPageUrl"])
                self.assertEqual(component.findtext("summary"), f"Install or remove {display} in the system plug-in folders")
                self.assertEqual(component.find("releases/release").get("version"), values["version"])
                self.assertEqual(component.findtext("launchable"), f"{app_id}.desktop")

                # roff: no warning, and the name printed as written (one long line, no hyphenation).
                page = check(self, ["groff", "-man", "-ww", "-Tascii", "-P-cbou", "-rLL=2000n", "-rHY=0", str(manual)], "groff")
                self.assertIn(f"It installs the plug-in it carries, {display}, into", " ".join(page.split()))
                deploy_page = check(self, ["groff", "-man", "-ww", "-Tascii", "-P-cbou", "-rLL=2000n", "-rHY=0",
                                           str(files / f"{package}-deploy.8")], "groff")
                self.assertIn(f"plug-in it carries, {display} {values['version']}, into", " ".join(deploy_page.split()))

                changelog = check(self, ["dpkg-parsechangelog", "-l", str(files / "changelog")], "dpkg-parsechangelog")
                self.assertIn(f"Source: {package}\n", changelog)
                self.assertIn(f"Version: {values['version']}\n", changelog)

    def test_the_demo_keeps_its_names(self):
        values = json.loads((SOURCE / "product.json").read_text())
        values["eulaFile"] = str(SOURCE / values["eulaFile"])
        files, output, code = configure("demo", values)
        self.assertEqual(code, 0, output)
        self.assertEqual(sorted(p.name for p in files.iterdir()), [
            "changelog", "com.oakhaze.PluginManager.desktop", "com.oakhaze.PluginManager.metainfo.xml",
            "com.oakhaze.PluginManager.policy", "copyright", "oh-installer-deploy.8", "oh-installer.1"])


class Refusals(unittest.TestCase):
    def test_identities_outside_the_rules_stop_the_configure_step(self):
        cases = [
            ("packageName", "Brindle-Keys"), ("packageName", "b"), ("packageName", "-keys"),
            ("packageName", "keys_installer"), ("packageName", "keys installer"), ("packageName", ""),
            ("appId", "com.brindle"), ("appId", "com.brindle-audio.Keys"), ("appId", "com.2brindle.Keys"),
            ("appId", "com..Keys"), ("appId", "com.brindle.Keys."), ("appId", "com.brindle.Ke$ys"),
            ("appId", "com.brindle." + "K" * 250),
        ]
        results = configure_all([(f"refused{i}", product(**{key: value})) for i, (key, value) in enumerate(cases)])
        for (key, value), (_, output, code) in zip(cases, results):
            with self.subTest(f"{key}={value!r}"):
                self.assertNotEqual(code, 0)
                self.assertIn(f'rule "{key}"', output)

        for key in ("packageName", "appId"):
            with self.subTest(f"{key} missing"):
                values = product()
                del values[key]
                _, output, code = configure("missing", values)
                self.assertNotEqual(code, 0)
                self.assertIn(f'"{key}" is missing', output)

    def test_versions_follow_debians_rule_without_an_epoch(self):
        # dpkg is the judge, except for the epoch, which the header could not show.
        versions = ["2.3.1", "1.0~rc1", "2.3.1-1", "1.0+git.5", "10", "1.0-beta-2",
                    "v1.0", "1.0-", "1.0 beta", "1:2.0", "1_0", "-1.0", ".5"]
        results = configure_all([(f"version{i}", product(version=v)) for i, v in enumerate(versions)])
        for version, (_, output, code) in zip(versions, results):
            with self.subTest(version):
                dpkg_accepts = subprocess.run(["dpkg", "--validate-version", version], capture_output=True).returncode == 0
                self.assertEqual(code == 0, dpkg_accepts and ":" not in version, output)
                if code != 0:
                    self.assertIn('rule "version"', output)


if __name__ == "__main__":
    unittest.main(verbosity=2)

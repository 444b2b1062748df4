#!/usr/bin/python3
"""The road of one install on the real Windows executable, under Wine and Xvfb.

Runs in the throw-away prefix and on the display that scripts/test-windows
provides (WINEPREFIX, DISPLAY). The program opens with a 600 x 600 client area
and writes the settings file with the Windows default paths; a click on the
VST3 tile and on INSTALL puts Velquin.vst3, byte for byte as archived, into
C:\\Program Files\\Common Files\\VST3 and turns the tile blue; installing CLAP
then shows the module's version, read through the Windows API.

The window also shows the application icon: Wine hands the window's large
icon (from the first icon group) to X, and it has the plume artwork's pixels.

Usage: end_to_end.py wine-run oh_installer.exe payload-folder hicolor-folder [--screenshot out.png]
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile
from pathlib import Path

WINE_RUN, EXE, PAYLOADS, ART = (Path(a) for a in sys.argv[1:5])
SCREENSHOT = Path(sys.argv[sys.argv.index("--screenshot") + 1]) if "--screenshot" in sys.argv else None
del sys.argv[1:]

FIND_WINDOW = Path(__file__).resolve().parents[2] / "scripts" / "find-window"
PREFIX = Path(os.environ.get("WINEPREFIX", ""))
COMMON = PREFIX / "drive_c" / "Program Files" / "Common Files"
MAKER = PREFIX / "drive_c" / "ProgramData" / "Oakhaze"

# Tile centres at 600 x 600 (unit 6), and the status line of each format tile.
VST3, CLAP, INSTALL = (159, 210), (440, 210), (546, 471)
STATUS_LINE = {"VST3": (93, 216, 190, 14), "CLAP": (375, 216, 190, 14)}   # x, y, width, height

# Background 0x111111 overlaid with the muted 0xaaa6a6 at alpha 89.
IDLE_TILE = tuple(round((m * 89 + 0x11 * 166) / 255) for m in (0xaa, 0xa6, 0xa6))


def xdotool(*args):
    return subprocess.run(["xdotool", *map(str, args)], check=True, capture_output=True, text=True,
                          timeout=120).stdout


def wait_for(condition, what, seconds=90):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.25)
    raise AssertionError(f"timed out waiting for {what}")


def window_icons(window):
    """{(width, height): [ARGB, ...]} from the window's _NET_WM_ICON."""
    text = subprocess.run(["xprop", "-id", window, "-notype", "32c", "_NET_WM_ICON"], check=True,
                          capture_output=True, text=True, timeout=60).stdout
    values = [int(v) for v in text.split("=", 1)[1].replace(" ", "").split(",")] if "=" in text else []
    icons, i = {}, 0
    while i + 2 <= len(values):
        w, h = values[i], values[i + 1]
        icons[(w, h)] = values[i + 2:i + 2 + w * h]
        i += 2 + w * h
    return icons


def artwork_argb(size):
    rgba = subprocess.run(["convert", str(ART / f"{size}x{size}" / "apps" / "oakhaze-plugin-manager.png"),
                           "-depth", "8", "rgba:-"], check=True, capture_output=True).stdout
    return [(rgba[j + 3] << 24) | (rgba[j] << 16) | (rgba[j + 1] << 8) | rgba[j + 2] for j in range(0, len(rgba), 4)]


class Screen:
    """A screenshot of the window as rows of (r, g, b)."""

    def __init__(self, window, keep=None):
        geometry = dict(line.split("=") for line in xdotool("getwindowgeometry", "--shell", window).split())
        crop = f"{geometry['WIDTH']}x{geometry['HEIGHT']}+{geometry['X']}+{geometry['Y']}"
        png = subprocess.run(["import", "-silent", "-window", "root", "-crop", crop, "+repage", "png:-"],
                             check=True, capture_output=True, timeout=60).stdout
        if keep:
            keep.write_bytes(png)
        ppm = subprocess.run(["convert", "png:-", "-depth", "8", "ppm:-"], input=png,
                             check=True, capture_output=True).stdout
        header = ppm.split(b"\n", 3)
        self.width, self.height = map(int, header[1].split())
        self.pixels = header[3]

    def at(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.pixels[i:i + 3])

    def is_blue(self, x, y):
        r, g, b = self.at(x, y)
        return b > 150 and b - r > 100 and 90 < g < 190

    def is_idle_grey(self, x, y):
        """The tile of a format not installed: muted grey at alpha 89 over the background."""
        return all(abs(c - e) <= 6 for c, e in zip(self.at(x, y), IDLE_TILE))

    def text_width(self, x, y, w, h):
        """From the first to the last column of a blue tile's area holding its dark ink."""
        columns = [cx for cx in range(x, x + w) if any(self.at(cx, cy)[2] < 120 for cy in range(y, y + h))]
        return columns[-1] - columns[0] + 1 if columns else 0


class EndToEnd(unittest.TestCase):
    def setUp(self):
        self.assertTrue(PREFIX.is_dir() and PREFIX != Path.home() / ".wine", "run through scripts/test-windows")
        for folder in ("VST3", "CLAP", "Avid"):
            shutil.rmtree(COMMON / folder, ignore_errors=True)
        shutil.rmtree(MAKER, ignore_errors=True)
        MAKER.mkdir(parents=True)

        before = subprocess.run(["xdotool", "search", "--name", "^oh_installer$"], capture_output=True, text=True)
        self.assertEqual(before.stdout.split(), [], "another oh_installer window is open on this display")

        self.app = subprocess.Popen([str(WINE_RUN), str(EXE)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Wine's own windows come and go while the program starts; see scripts/find-window.
        self.window = subprocess.run([str(FIND_WINDOW), "^oh_installer$", "60"], check=True,
                                     capture_output=True, text=True).stdout.split()[0]

    def tearDown(self):
        self.app.terminate()
        try:
            self.app.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.app.kill()

    def click(self, point):
        xdotool("mousemove", "--window", self.window, *point)
        time.sleep(0.3)
        xdotool("click", "1")
        time.sleep(0.5)

    def screen_when(self, ready, what, seconds=60, keep=None):
        """The first screenshot on which ready(screen) holds, the pointer away
        from every control; the result card fades for three seconds, and a
        loaded machine paints later still. A window that never shows it fails."""
        xdotool("mousemove", 5, 5)
        deadline = time.monotonic() + seconds
        while True:
            screen = Screen(self.window, keep=keep)
            if ready(screen):
                return screen
            if time.monotonic() > deadline:
                raise AssertionError(f"the window never showed {what}")
            time.sleep(0.25)

    def assert_bundle_as_archived(self, archive, folder):
        with zipfile.ZipFile(archive) as zf:
            files = [e for e in zf.infolist() if not e.filename.endswith("\\")]
            self.assertTrue(files)
            for entry in files:
                path = folder / entry.filename.replace("\\", "/")
                self.assertEqual(path.read_bytes(), zf.read(entry), entry.filename)
            on_disk = sorted(str(p.relative_to(folder)) for p in folder.rglob("*") if p.is_file())
            self.assertEqual(on_disk, sorted(e.filename.replace("\\", "/") for e in files))

    def test_the_road_of_one_install(self):
        geometry = xdotool("getwindowgeometry", "--shell", self.window)
        self.assertIn("WIDTH=600", geometry)
        self.assertIn("HEIGHT=600", geometry)

        icons = window_icons(self.window)
        self.assertIn((32, 32), icons)
        channels = lambda p: [(p >> s) & 255 for s in (24, 16, 8, 0)]
        differing = sum(1 for shown, drawn in zip(icons[(32, 32)], artwork_argb(32))
                        if max(abs(a - b) for a, b in zip(channels(shown), channels(drawn))) > 3)
        self.assertEqual(differing, 0, "the window's icon is not the plume artwork")

        # Upstream Wine owns every file by the token's own user, which an
        # unelevated process of that user could be as well: the maker's folder
        # proves nothing, so the first start keeps the defaults and writes no
        # file into it. (What it writes where the folder is the administrators'
        # own: Settings.FirstStartWritesTheDefaultsByteForByte in the Windows suite, under
        # the descriptor stand-in.)
        self.assertTrue(MAKER.is_dir())
        self.assertEqual(list(MAKER.iterdir()), [])

        self.screen_when(lambda s: s.is_idle_grey(280, 235), "the VST3 tile as not installed")

        self.click(VST3)
        self.click(INSTALL)
        bundle = COMMON / "VST3" / "Velquin.vst3"
        module = bundle / "Contents" / "x86_64-win" / "Velquin.vst3"
        wait_for(lambda: module.is_file() and not any(p.name.startswith(".") for p in bundle.parent.iterdir()),
                 "the VST3 bundle")
        self.assert_bundle_as_archived(PAYLOADS / "vst3.zip", bundle.parent)
        self.assertEqual([p.name for p in bundle.parent.iterdir()], ["Velquin.vst3"])

        self.screen_when(lambda s: s.is_blue(280, 235), "the VST3 tile blue after the install")

        self.click(CLAP)
        self.click(INSTALL)
        clap = COMMON / "CLAP" / "Velquin.clap"
        wait_for(clap.is_file, "the CLAP bundle")
        with zipfile.ZipFile(PAYLOADS / "clap.zip") as zf:
            wait_for(lambda: clap.read_bytes() == zf.read("Velquin.clap"), "the whole CLAP module")

        # "INSTALLED" on the VST3 tile (a folder has no version); "v1.0.0.0 INSTALLED"
        # on the CLAP tile: its status line runs nine characters longer (here 64 and 113 pixels).
        widths = lambda s: (s.text_width(*STATUS_LINE["VST3"]), s.text_width(*STATUS_LINE["CLAP"]))
        self.screen_when(lambda s: s.is_blue(560, 235) and s.is_blue(280, 235)
                                  and widths(s)[0] > 20 and widths(s)[1] > widths(s)[0] * 1.5,
                                  "both tiles blue, the CLAP status line with its version", keep=SCREENSHOT)


if __name__ == "__main__":
    unittest.main(verbosity=2)

"""The deploy program's contract, over the real binary, as root in a private
mount namespace: the machine's plug-in folders, /opt, the state folder and the
system log's socket are empty file systems of this test alone.

For each installed state (absent; this version intact; one file changed; one
file missing; one extra file; an older version; a newer one) and each command
(status, install, uninstall, each with --dry-run, detect), over all three
formats at once: the exit code, the JSON against docs/deploy-result.schema.json,
the disk afterwards (checked here against the archives, not by the program),
"changed", and a second identical run that changes nothing. Then what only a
table of one state cannot show: one format of three, a busy format, a refused
and a failed one together, a user who is not root, and the run log's lines.

    contract_test.py <oh_deploy> <schema> <payload folder> <oh_payload_generate> <product name> <product version> [--usage-only]

--usage-only: only the bad command lines (for the slower sanitized build).

Prints the table it checked. Exit 0 when every row holds, 77 without root.
"""
import ctypes
import fcntl
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import zipfile
import zlib

import jsonschema

DEPLOY, SCHEMA, PAYLOADS, GENERATOR, NAME, VERSION = sys.argv[1:7]
# Bundles of another version, made by the generator: below and above ours.
OLDER = "0.0.1"
NEWER = f"{int(VERSION.split('.')[0]) + 1}.0.0"

FORMATS = ["VST3", "CLAP", "AAX"]
FOLDER = {"VST3": "/usr/local/lib/vst3", "CLAP": "/usr/lib/clap", "AAX": "/usr/local/lib/Avid/Audio/Plug-Ins"}
BUNDLE = {"VST3": NAME + ".vst3", "CLAP": NAME + ".clap", "AAX": NAME + ".aaxplugin"}
ARCHIVE = {"VST3": "vst3.zip", "CLAP": "clap.zip", "AAX": "aax.zip"}
EXIT = {"success": 0, "failure": 1, "busy": 3, "refused": 4, "not-root": 5}
HIDDEN = ["/usr/local/lib", "/usr/lib/clap", "/opt", "/var/lib/oakhaze"]

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


#==============================================================================
def enter_private_mounts(work):
    """Own mount namespace; tmpfs over the machine's folders; /dev/log ours."""
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.unshare(0x00020000) != 0:   # CLONE_NEWNS
        sys.exit("unshare failed")
    subprocess.run(["mount", "--make-rprivate", "/"], check=True)
    for folder in HIDDEN:
        os.makedirs(folder, exist_ok=True)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=0755,size=1g", "tmpfs", folder], check=True)
    # The system log: a socket of ours in a /dev of our own.
    subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=0755,size=1m", "tmpfs", "/dev"], check=True)
    log = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    log.bind("/dev/log")
    log.setblocking(False)
    return log


def log_lines(log):
    lines = []
    while True:
        try:
            lines.append(log.recv(65536).decode("utf-8", "replace"))
        except BlockingIOError:
            return lines


#==============================================================================
def archive_entries(fmt):
    """Path below the target folder -> (size, CRC-32) of every file of the archive."""
    with zipfile.ZipFile(os.path.join(PAYLOADS, ARCHIVE[fmt])) as z:
        return {i.filename.replace("\\", "/"): (i.file_size, i.CRC) for i in z.infolist() if not i.filename.endswith("\\")}


def extract(fmt, into):
    with zipfile.ZipFile(os.path.join(PAYLOADS, ARCHIVE[fmt])) as z:
        for info in z.infolist():
            path = os.path.join(into, info.filename.replace("\\", "/"))
            if info.filename.endswith("\\"):
                os.makedirs(path, exist_ok=True)
            else:
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as out:
                    out.write(z.read(info))


def is_intact(fmt):
    """The bundle is the archive, file for file, and nothing more (our own reading)."""
    expected = archive_entries(fmt)
    bundle = os.path.join(FOLDER[fmt], BUNDLE[fmt])
    found = {}
    if os.path.isfile(bundle) and not os.path.islink(bundle):
        found[BUNDLE[fmt]] = bundle
    elif os.path.isdir(bundle) and not os.path.islink(bundle):
        for root, dirs, files in os.walk(bundle):
            for f in files:
                path = os.path.join(root, f)
                found[os.path.relpath(path, FOLDER[fmt])] = path
    else:
        return False
    if set(found) != set(expected):
        return False
    for rel, path in found.items():
        with open(path, "rb") as f:
            data = f.read()
        if (len(data), zlib.crc32(data)) != expected[rel]:
            return False
    return True


def without_locks(files):
    """A real run leaves its lock files in the state folder."""
    return {path: what for path, what in files.items() if not path.startswith("/var/lib/oakhaze/")}


def snapshot():
    """Everything below the hidden folders: path -> what it is. A write changes
    a file's modification time, a replacement its inode."""
    result = {}
    for top in HIDDEN:
        for root, dirs, files in os.walk(top):
            for name in dirs + files:
                path = os.path.join(root, name)
                info = os.lstat(path)
                result[path] = (info.st_mode, info.st_ino, info.st_size, info.st_mtime_ns)
    return result


#==============================================================================
def make_templates(work):
    """Bundles per state, made once: ours from the archives, older and newer by the generator."""
    templates = {}
    ours = os.path.join(work, "ours")
    for fmt in FORMATS:
        extract(fmt, ours)
    for state, version in (("older", OLDER), ("newer", NEWER)):
        folder = os.path.join(work, state)
        subprocess.run([GENERATOR, "--name", NAME, "--version", version, "--module-size", "65536", folder],
                       check=True, capture_output=True)
    templates["ours"] = ours
    templates["older"] = os.path.join(work, "older")
    templates["newer"] = os.path.join(work, "newer")
    return templates


def first_file(bundle, largest):
    files = []
    for root, dirs, names in os.walk(bundle):
        files += [os.path.join(root, n) for n in names]
    return sorted(files, key=lambda p: (os.path.getsize(p), p))[-1 if largest else 0]


def put_state(fmt, state, templates):
    """Lays format fmt's bundle in its folder in the given state; False when the
    state has no meaning for it (a single-file bundle has no file to miss or add)."""
    folder = FOLDER[fmt]
    bundle = os.path.join(folder, BUNDLE[fmt])
    if os.path.lexists(bundle):
        shutil.rmtree(bundle) if os.path.isdir(bundle) and not os.path.islink(bundle) else os.remove(bundle)
    os.makedirs(folder, exist_ok=True)
    if state == "absent":
        return True
    source = os.path.join(templates["older" if state == "older" else "newer" if state == "newer" else "ours"], BUNDLE[fmt])
    if os.path.isdir(source):
        shutil.copytree(source, bundle)
    else:
        shutil.copy2(source, bundle)
    if state == "changed":
        # One byte of the module, its size kept.
        path = bundle if os.path.isfile(bundle) else first_file(bundle, largest=True)
        with open(path, "r+b") as f:
            f.seek(os.path.getsize(path) // 2)
            byte = f.read(1)
            f.seek(-1, 1)
            f.write(bytes([byte[0] ^ 0x5A]))
    elif state in ("missing", "extra"):
        if os.path.isfile(bundle):
            return False
        if state == "missing":
            os.remove(first_file(bundle, largest=False))
        else:
            with open(os.path.join(bundle, "notes.txt"), "w") as f:
                f.write("someone's notes\n")
    return True


def run(args, user=None):
    """(exit code, JSON or None, stdout, stderr) of one run of the program."""
    preexec = None
    if user is not None:
        preexec = lambda: (os.setgid(user), os.setuid(user))
    p = subprocess.run([DEPLOY] + args, capture_output=True, preexec_fn=preexec)
    data = None
    if "--json" in args:
        try:
            data = json.loads(p.stdout)
        except ValueError:
            check(False, f"{args}: not JSON: {p.stdout[:200]!r}")
    return p.returncode, data, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")


#==============================================================================
# What each command does to a format in each state: (action, detected).
STATES = ["absent", "intact", "changed", "missing", "extra", "older", "newer"]
INSTALL_ACTION = {"absent": "install", "intact": "none", "changed": "repair", "missing": "repair",
                  "extra": "repair", "older": "update", "newer": "refused"}
DETECTED = {"absent": False, "intact": True, "changed": False, "missing": False, "extra": False,
            "older": False, "newer": True}
COMMANDS = [["status"], ["install"], ["install", "--dry-run"], ["uninstall"], ["uninstall", "--dry-run"], ["detect"]]


def expected_action(command, state):
    if command[0] == "install":
        return INSTALL_ACTION[state]
    if command[0] == "uninstall":
        return "none" if state == "absent" else "uninstall"
    return "none"


def check_result(label, code, data, validator):
    """Schema, exit code in the JSON, the format entries present."""
    errors = sorted(validator.iter_errors(data), key=str)
    check(not errors, f"{label}: not valid against the schema: {errors[:1]}")
    check(data.get("exitCode") == code, f"{label}: exitCode {data.get('exitCode')} but the process exited {code}")


def table(templates, validator, log, rows):
    for state in STATES:
        for command in COMMANDS:
            formats = [f for f in FORMATS if put_state(f, state, templates)]
            for f in set(FORMATS) - set(formats):
                put_state(f, "absent", templates)
            label = f"{state:8} {' '.join(command):20}"
            flags = ["--formats", ",".join(f.lower() for f in formats)]
            before = snapshot()
            code, data, out, err = run(command + flags + ["--json"])
            check_result(label, code, data, validator)
            actions = [entry["action"] for entry in data["formats"]]
            check([e["format"] for e in data["formats"]] == formats, f"{label}: formats {data['formats']}")

            if command[0] == "detect":
                detected = DETECTED[state]
                check(code == (0 if detected else 1) and data["detected"] == detected, f"{label}: detect exit {code}")
                plain_code, _, plain, _ = run(command + flags)
                check(plain_code == code and (plain.count("\n") == 1 if detected else plain == ""),
                      f"{label}: detect printed {plain!r}")
                check(snapshot() == before, f"{label}: detect changed the disk")
                rows.append((label, code, "detected" if detected else "not detected", "-", "-"))
                continue

            want = [expected_action(command, state)] * len(formats)
            check(actions == want, f"{label}: actions {actions}, want {want}")
            changes = any(a not in ("none", "refused") for a in want)
            check(data["changed"] == changes, f"{label}: changed {data['changed']}")
            refused = "refused" in want
            check(code == (EXIT["refused"] if refused else 0), f"{label}: exit {code} ({err.strip()})")
            check(data["result"] == ("refused" if refused else "success"), f"{label}: result {data['result']}")

            for entry in data["formats"]:
                fmt = entry["format"]
                present = os.path.lexists(os.path.join(FOLDER[fmt], BUNDLE[fmt]))
                check(entry["after"]["installed"] == present or data["dryRun"] or command[0] == "status",
                      f"{label} {fmt}: after.installed {entry['after']['installed']}, on disk {present}")
                check(entry["before"]["intact"] == (state == "intact"), f"{label} {fmt}: before.intact {entry['before']['intact']}")
                if entry["action"] in ("install", "update", "repair") and not data["dryRun"]:
                    check(is_intact(fmt) and entry["after"]["intact"], f"{label} {fmt}: not the archive after the install")
                if entry["action"] == "uninstall" and not data["dryRun"]:
                    check(not present and os.path.isdir(FOLDER[fmt]), f"{label} {fmt}: the bundle or not the folder is left")

            if data["dryRun"] or not changes:
                check(without_locks(snapshot()) == without_locks(before), f"{label}: the disk changed")

            second = "-"
            if command[0] != "status" and not data["dryRun"]:
                lines = log_lines(log)
                check(lines and all("oh_deploy: " in line for line in lines)
                      and sum("started by uid 0" in line for line in lines) == 1,
                      f"{label}: log lines {lines}")
                after_first = snapshot()
                code2, data2, _, _ = run(command + flags + ["--json"])
                check_result(label + " again", code2, data2, validator)
                again = [e["action"] for e in data2["formats"]]
                settled = ["refused" if a == "refused" else "none" for a in want]
                check(again == settled and not data2["changed"] and snapshot() == after_first,
                      f"{label}: the second run did {again}, changed {data2['changed']}")
                second = f"exit {code2}, {','.join(sorted(set(again)))}, changed {str(data2['changed']).lower()}"
                log_lines(log)
            rows.append((label, code, ",".join(sorted(set(actions))) or "-", str(data["changed"]).lower(), second))


#==============================================================================
def special_cases(templates, validator, log, rows):
    def row(label, code, data, note):
        rows.append((label, code, note, str(data["changed"]).lower() if data else "-", "-"))

    # One format of three: only it is looked at and changed.
    for fmt in FORMATS:
        put_state(fmt, "changed", templates)
    before = snapshot()
    code, data, _, _ = run(["install", "--formats", "clap", "--json"])
    check_result("one of three", code, data, validator)
    after = snapshot()
    untouched = all(after.get(p) == before.get(p) for p in set(before) | set(after)
                    if not p.startswith((FOLDER["CLAP"], "/var/lib/oakhaze")))
    check(code == 0 and [e["format"] for e in data["formats"]] == ["CLAP"] and is_intact("CLAP") and untouched,
          "install --formats clap changed more than CLAP")
    row("changed  install --formats clap", code, data, "CLAP repair, VST3 and AAX untouched")
    log_lines(log)

    # A newer version is replaced only when asked.
    put_state("AAX", "newer", templates)
    code, data, _, _ = run(["install", "--formats", "aax", "--allow-downgrade", "--json"])
    check_result("downgrade", code, data, validator)
    check(code == 0 and data["formats"][0]["action"] == "update" and data["formats"][0]["before"]["version"] == NEWER + ".0"
          and is_intact("AAX"), f"--allow-downgrade: {data['formats'][0]}")
    row("newer    install --allow-downgrade", code, data, data["formats"][0]["action"])
    log_lines(log)

    # Another run holds CLAP's lock: CLAP busy, the rest goes on; busy wins over refused.
    put_state("VST3", "absent", templates)
    put_state("CLAP", "absent", templates)
    put_state("AAX", "newer", templates)
    lock_path = os.path.join("/var/lib/oakhaze", BUNDLE["CLAP"] + ".lock")
    fd = os.open(lock_path, os.O_RDWR | os.O_CREAT, 0o600)
    fcntl.flock(fd, fcntl.LOCK_EX)
    code, data, _, _ = run(["install", "--json"])
    check_result("busy", code, data, validator)
    results = [(e["format"], e["action"], e["result"]) for e in data["formats"]]
    check(code == EXIT["busy"] and data["result"] == "busy"
          and results == [("VST3", "install", "success"), ("CLAP", "none", "busy"), ("AAX", "refused", "success")]
          and is_intact("VST3") and not os.path.lexists(os.path.join(FOLDER["CLAP"], BUNDLE["CLAP"])),
          f"one format locked: exit {code}, {results}")
    row("mixed    install, CLAP locked", code, data, " ".join(f"{f}:{a}/{r}" for f, a, r in results))
    os.close(fd)
    log_lines(log)

    # A read-only CLAP folder fails; failure wins over refused.
    subprocess.run(["mount", "-t", "tmpfs", "-o", "ro,mode=0755", "tmpfs", FOLDER["CLAP"]], check=True)
    code, data, _, _ = run(["install", "--formats", "clap,aax", "--json"])
    check_result("failure", code, data, validator)
    clap = data["formats"][0]
    check(code == EXIT["failure"] and data["result"] == "failure" and clap["result"] == "failure"
          and clap["failure"]["reason"] == "Read-only file system" and data["formats"][1]["action"] == "refused",
          f"a read-only folder: exit {code}, {clap}")
    row("ro CLAP  install --formats clap,aax", code, data, f"CLAP failure at {clap['failure']['step']}: {clap['failure']['reason']}")
    subprocess.run(["umount", FOLDER["CLAP"]], check=True)
    log_lines(log)

    # Not root: install refuses before it looks; status and dry runs work.
    before = snapshot()
    code, data, _, err = run(["install", "--json"], user=65534)
    check_result("not root", code, data, validator)
    check(code == EXIT["not-root"] and data["result"] == "not-root" and data["formats"] == [] and "root" in err
          and snapshot() == before, f"not root: exit {code}, {err}")
    row("user     install", code, data, "refused before it looks")
    for command in (["status"], ["install", "--dry-run"], ["uninstall", "--dry-run"], ["detect"]):
        code, data, _, _ = run(command + ["--json"], user=65534)
        check_result("user " + command[0], code, data, validator)
        check(code in (0, 1, EXIT["refused"]) and snapshot() == before, f"{command} as a user: exit {code}")
    row("user     status, dry runs, detect", 0, None, "work, change nothing")
    check(log_lines(log) == [], "runs as a user or refused wrote to the log")


def bad_command_lines(log, rows):
    """Each is a usage error: exit 2, nothing on standard output, the disk and the log untouched."""
    long_run = b"\xc0\x80" + b"A" * 120000
    cases = [
        ("nothing", []),
        ("an unknown verb", [b"frobnicate"]),
        ("an unknown format", [b"install", b"--formats", b"lv2"]),
        ("a format twice", [b"install", b"--formats", b"vst3,vst3"]),
        ("an option twice", [b"install", b"--dry-run", b"--dry-run"]),
        ("an empty --formats", [b"install", b"--formats", b""]),
        ("not UTF-8", [b"install", b"--formats", b"vst\xff"]),
        ("eight overlong NULs and long runs", [long_run] * 8),
        ("the longest argument", [b"install", b"A" * 131071]),
        ("a folder", [b"install", b"/tmp"]),
        ("a folder option", [b"install", b"--target", b"/tmp"]),
        ("a settings file", [b"status", b"--settings", b"/tmp/PluginManagerSettings.txt"]),
        ("--help with more", [b"--help", b"install"]),
    ]
    before = snapshot()
    for what, args in cases:
        p = subprocess.run([DEPLOY.encode()] + args, capture_output=True)
        check(p.returncode == 2 and p.stdout == b"" and p.stderr.startswith(b"oh_deploy: ")
              and len(p.stderr) < 400 and all(32 <= c < 127 or c == 10 for c in p.stderr),
              f"{what}: exit {p.returncode}, stderr {p.stderr[:120]!r}")
    check(snapshot() == before and log_lines(log) == [], "a bad command line changed the disk or wrote to the log")
    rows.append((f"bad command lines ({len(cases)})", 2, "usage error, nothing changed", "-", "-"))


def main():
    usage_only = "--usage-only" in sys.argv
    if os.geteuid() != 0:
        print("contract_test: needs root for a private mount namespace")
        return 77
    with open(SCHEMA) as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)

    work = tempfile.mkdtemp(prefix="oh-deploy-contract.")
    try:
        log = enter_private_mounts(work)
        rows = []
        bad_command_lines(log, rows)
        if not usage_only:
            templates = make_templates(work)
            table(templates, validator, log, rows)
            special_cases(templates, validator, log, rows)
    finally:
        shutil.rmtree(work, ignore_errors=True)

    print(f"{'state    command':30} {'exit':>4}  {'actions':28} {'changed':7}  second run")
    for label, code, actions, changed, second in rows:
        print(f"{label:30} {code:>4}  {actions:28} {changed:7}  {second}")
    for failure in failures:
        print("FAILED:", failure)
    print(f"{len(rows)} rows, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

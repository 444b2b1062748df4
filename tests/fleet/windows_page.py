"""Runs every command line of docs/fleet-windows.md under Wine and holds it to
the page: the exit codes and the lines the page shows, the startup script as
the page gives it, and the file-version detection rule before and after.

Upstream Wine makes every file its token user's, so no state folder is the
administrators' alone and a real install or uninstall stops at its lock
(1603, nothing changed). For each such command line the run shows exactly
that, holds the page's exit code to the same command's dry run, and puts on
the disk what the dry run says the command does (the archives' entries, or
nothing), so that the lines after it run against the state the page means.

Usage: windows_page.py PAGE OH_DEPLOY_EXE NEWER_BUNDLES PAYLOADS
(Wine's prefix and display come from the environment.)"""

import json
import os
import re
import shutil
import subprocess
import sys
import zipfile
from pathlib import Path

import pefile

PROMPT = 'C:\\Deploy> '
ERRORLEVEL = 'echo %ERRORLEVEL%'
MARK = '==oh-command %d=='
BUNDLES = {'VST3': 'VST3\\Velquin.vst3', 'CLAP': 'CLAP\\Velquin.clap', 'AAX': 'Avid\\Audio\\Plug-Ins\\Velquin.aaxplugin'}
ARCHIVES = {'VST3': 'vst3.zip', 'CLAP': 'clap.zip', 'AAX': 'aax.zip'}


class Page:
    def __init__(self, text):
        self.transcripts = []   # (state, [(command, [expected lines])])
        self.scripts = {}       # file name -> text
        self.rule = {}          # field -> value of the detection rule table
        self.command_spans = set()
        lines = text.splitlines()
        state = 'fresh'
        i = 0
        while i < len(lines):
            line = lines[i]
            marker = re.match(r'<!-- wine-state: (\w+) -->', line)
            if marker:
                state = marker.group(1)
            elif line.startswith('```'):
                kind = line[3:].strip()
                body = []
                i += 1
                while not lines[i].startswith('```'):
                    body.append(lines[i])
                    i += 1
                if kind == 'console':
                    self.transcripts.append((state, self._transcript(body)))
                elif kind == 'bat':
                    named = re.findall(r'as `([^`]+\.cmd)`', '\n'.join(lines[max(0, i - len(body) - 6):i - len(body)]))
                    if not named:
                        raise SystemExit('a bat block without "as `NAME.cmd`" before it')
                    self.scripts[named[-1]] = '\r\n'.join(body) + '\r\n'
                state = 'fresh' if kind == 'console' else state
            else:
                row = re.match(r'^\| (Path|File|Rule) \| (.*) \|$', line)
                if row and not self.rule.get(row.group(1)):
                    self.rule[row.group(1)] = row.group(2)
                self.command_spans.update(c for c in re.findall(r'`([^`]+)`', line)
                                          if c.startswith('oh_deploy.exe ') or c.endswith('.cmd'))
            i += 1

    @staticmethod
    def _transcript(body):
        steps = []
        for line in body:
            if line.startswith(PROMPT):
                steps.append((line[len(PROMPT):], []))
            elif steps:
                steps[-1][1].append(line)
            else:
                raise SystemExit('a console block that starts with output: %r' % line)
        return steps


def windows_path(prefix, path):
    path = path.replace('%CommonProgramFiles%', 'C:\\Program Files\\Common Files')
    assert path.startswith('C:\\'), path
    return prefix / 'drive_c' / Path(*path[3:].split('\\'))


def file_version(path):
    pe = pefile.PE(str(path), fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_RESOURCE']])
    info = pe.VS_FIXEDFILEINFO[0]
    return (info.FileVersionMS >> 16, info.FileVersionMS & 0xffff, info.FileVersionLS >> 16, info.FileVersionLS & 0xffff)


def rule_holds(prefix, rule):
    """The page's detection rule, as Intune and Configuration Manager apply it."""
    folder = windows_path(prefix, rule['Path'].strip('`'))
    target = folder / rule['File'].strip('`')
    minimum = tuple(int(p) for p in re.search(r'`([0-9.]+)`', rule['Rule']).group(1).split('.'))
    assert 'greater than or equal' in rule['Rule'], rule['Rule']
    return target.is_file() and file_version(target) >= minimum


def run_batch(deploy_dir, commands):
    """Runs the commands as one batch file in C:\\Deploy (a batch file reads and
    expands each line as it comes, as a prompt does) and gives each one's output."""
    lines = ['@echo off']
    for n, command in enumerate(commands):
        # A script runs in a cmd of its own, as Group Policy starts it (Wine's
        # call of a batch file loses the code of its exit /b).
        lines += ['echo ' + MARK % n, ('cmd /c ' if command.endswith('.cmd') else '') + command]
    (deploy_dir / 'oh-page-run.cmd').write_bytes(('\r\n'.join(lines) + '\r\n').encode('ascii'))
    done = subprocess.run(['wine', 'cmd', '/c', 'oh-page-run.cmd'], cwd=deploy_dir,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
    out = done.stdout.decode('utf-8', 'replace').replace('\r\n', '\n').split('\n')
    outputs, current = {}, None
    for line in out:
        mark = re.match(r'^==oh-command (\d+)==$', line.strip())
        if mark:
            current = int(mark.group(1))
            outputs[current] = []
        elif current is not None and line.strip():
            outputs[current].append(line.rstrip())
    return [outputs.get(n) for n in range(len(commands))]


def is_subsequence(expected, actual):
    remaining = iter(actual)
    return all(any(line == got for got in remaining) for line in expected)


def deploy_twin(command, scripts):
    """The oh_deploy.exe command line that a disk-changing page command runs:
    the command itself, or the one line of a startup script that runs it;
    None for a command that changes nothing."""
    if command.endswith('.cmd'):
        lines = [l for l in scripts[command].splitlines() if 'oh_deploy.exe' in l]
        assert len(lines) == 1, lines
        command = 'oh_deploy.exe' + lines[0].split('oh_deploy.exe', 1)[1].replace('"', '')
    words = command.split()
    if words[0] == 'oh_deploy.exe' and words[1] in ('install', 'uninstall') and '--dry-run' not in words:
        return command
    return None


def json_run(deploy_dir, command):
    lines = run_batch(deploy_dir, [command + ' --json', ERRORLEVEL])
    return int(lines[1][0]), json.loads('\n'.join(lines[0]))


def main():
    page_path, exe, newer, payloads = (Path(a) for a in sys.argv[1:5])
    page = Page(page_path.read_text())
    prefix = Path(os.environ['WINEPREFIX'])
    common = prefix / 'drive_c' / 'Program Files' / 'Common Files'
    deploy_dir = prefix / 'drive_c' / 'Deploy'
    deploy_dir.mkdir(parents=True, exist_ok=True)
    shutil.copy2(exe, deploy_dir / 'oh_deploy.exe')
    for name, text in page.scripts.items():
        (deploy_dir / name).write_bytes(text.encode('ascii'))

    failures, passed = [], []
    ran = set()

    def bundle_path(name):
        return common / Path(*BUNDLES[name].split('\\'))

    def remove(name):
        path = bundle_path(name)
        if path.is_dir():
            shutil.rmtree(path)
        elif path.exists():
            path.unlink()

    def place(name, source=None):
        """The bundle as an install leaves it: the archive's entries (or a
        bundle folder of the generator's)."""
        remove(name)
        target = bundle_path(name)
        target.parent.mkdir(parents=True, exist_ok=True)
        if source is not None:
            (shutil.copytree if source.is_dir() else shutil.copy2)(source, target)
            return
        with zipfile.ZipFile(payloads / ARCHIVES[name]) as archive:
            for info in archive.infolist():
                path = target.parent / Path(*info.filename.rstrip('\\').split('\\'))
                if info.filename.endswith('\\'):
                    path.mkdir(parents=True, exist_ok=True)
                else:
                    path.parent.mkdir(parents=True, exist_ok=True)
                    path.write_bytes(archive.read(info))

    def check(label, ok):
        print('%-6s %s' % ('ok' if ok else 'FAILED', label))
        (passed if ok else failures).append(label)

    def run_step(command, expected_code):
        """Runs one page command under Wine; gives its output, or None when
        Wine's lock stopped it and the disk was brought to what it would do."""
        out, code = run_batch(deploy_dir, [command, ERRORLEVEL])
        code = code[0] if code else '?'
        twin = deploy_twin(command, page.scripts)
        if code == expected_code or not twin or code != '1603':
            check('%s -> exit code %s (page: %s)' % (command, code, expected_code), code == expected_code)
            return out
        # Wine's lock: the same command with --json fails at the lock in every
        # format and changes nothing; its dry run gives the page's exit code.
        try:
            real_code, real = json_run(deploy_dir, twin)
            dry_code, dry = json_run(deploy_dir, twin + ' --dry-run')
        except ValueError as error:
            check('%s -> exit code 1603 under Wine, and no JSON from its twin: %s' % (command, error), False)
            return None
        steps = {f.get('failure', {}).get('step') for f in real['formats']}
        check('%s -> exit code 1603 under Wine: every format stops at its lock (%s), nothing changed'
              % (command, ', '.join(sorted(str(x) for x in steps))),
              real_code == 1603 and steps == {'lock'} and not real['changed'])
        check('%s --dry-run -> exit code %s (page: %s): %s' % (twin, dry_code, expected_code,
              ', '.join('%s %s' % (f['format'], f['action']) for f in dry['formats'])), str(dry_code) == expected_code)
        for f in dry['formats']:
            if f['action'] in ('install', 'update', 'repair'):
                place(f['format'])
            elif f['action'] == 'uninstall':
                remove(f['format'])
        print('         (the disk now holds what the dry run says %s does)' % twin)
        return None

    # The detection rule before anything is installed.
    for name in BUNDLES:
        remove(name)
    check('detection rule: not detected on a clean machine', not rule_holds(prefix, page.rule))

    for state, steps in page.transcripts:
        for name in BUNDLES:
            remove(name)
        if state == 'newer':
            for name, bundle in BUNDLES.items():
                place(name, newer / bundle.split('\\')[-1])
        elif state != 'fresh':
            raise SystemExit('unknown wine-state %s' % state)
        print('-- transcript (%s)' % state)
        for index, (command, expected) in enumerate(steps):
            ran.add(command)
            if command == ERRORLEVEL:
                continue
            following = steps[index + 1] if index + 1 < len(steps) else None
            if not following or following[0] != ERRORLEVEL:
                raise SystemExit('%s: the page shows no exit code after it' % command)
            actual = run_step(command, ' '.join(following[1]))
            if actual is None:
                check('%s: the page shows no output Wine cannot give' % command, not expected)
                continue
            for line in actual:
                print('         | ' + line)
            if expected:
                check('%s prints %r' % (command, expected), is_subsequence(expected, actual))
            elif command.startswith('oh_deploy.exe detect'):
                # Not detected: nothing at all on standard output.
                check('%s prints nothing' % command, actual == [])

    # The rule says installed once the product is there, and not once it is gone.
    for name in BUNDLES:
        place(name)
    check('detection rule with the product installed: detected', rule_holds(prefix, page.rule))
    for name in BUNDLES:
        remove(name)
    check('detection rule with the product removed: not detected', not rule_holds(prefix, page.rule))

    for command in sorted(page.command_spans - ran):
        check('command line on the page that no transcript runs: %s' % command, False)
    print('%d passed, %d failed' % (len(passed), len(failures)))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())

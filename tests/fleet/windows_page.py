"""Runs every command line of docs/fleet-windows.md under Wine and holds it to
the page: the exit codes and the lines the page shows, the startup script as
the page gives it, and the file-version detection rule before and after.

Usage: windows_page.py PAGE OH_DEPLOY_EXE NEWER_BUNDLES
(Wine's prefix and display come from the environment.)"""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pefile

PROMPT = 'C:\\Deploy> '
ERRORLEVEL = 'echo %ERRORLEVEL%'
MARK = '==oh-command %d=='
BUNDLES = {'VST3': 'VST3\\Velquin.vst3', 'CLAP': 'CLAP\\Velquin.clap', 'AAX': 'Avid\\Audio\\Plug-Ins\\Velquin.aaxplugin'}


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
        # A batch file started from another returns only through call.
        lines += ['echo ' + MARK % n, ('call ' if command.endswith('.cmd') else '') + command]
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


def main():
    page_path, exe, newer = (Path(a) for a in sys.argv[1:4])
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

    def clear():
        for bundle in BUNDLES.values():
            path = common / Path(*bundle.split('\\'))
            if path.is_dir():
                shutil.rmtree(path)
            elif path.exists():
                path.unlink()

    def check(label, ok):
        print('%-6s %s' % ('ok' if ok else 'FAILED', label))
        (passed if ok else failures).append(label)

    # The detection rule before anything is installed.
    clear()
    check('detection rule: not detected on a clean machine', not rule_holds(prefix, page.rule))

    for state, steps in page.transcripts:
        clear()
        if state == 'newer':
            for bundle in BUNDLES.values():
                source = newer / bundle.split('\\')[-1]
                target = common / Path(*bundle.split('\\'))
                target.parent.mkdir(parents=True, exist_ok=True)
                (shutil.copytree if source.is_dir() else shutil.copy2)(source, target)
        elif state != 'fresh':
            raise SystemExit('unknown wine-state %s' % state)
        outputs = run_batch(deploy_dir, [command for command, _ in steps])
        print('-- transcript (%s)' % state)
        previous = None
        for (command, expected), actual in zip(steps, outputs):
            ran.add(command)
            if actual is None:
                check('%s: did not run' % command, False)
                continue
            if command == ERRORLEVEL:
                check('%s -> exit code %s (page: %s)' % (previous, ' '.join(actual), ' '.join(expected)), actual == expected)
            else:
                for line in actual:
                    print('         | ' + line)
                if expected:
                    check('%s prints %r' % (command, expected), is_subsequence(expected, actual))
                elif command.startswith('oh_deploy.exe detect'):
                    # Not detected: nothing at all on standard output.
                    check('%s prints nothing' % command, actual == [])
            previous = command

    # The rule says installed after an install, and not after an uninstall.
    for command, detected in (('oh_deploy.exe install', True), ('oh_deploy.exe uninstall', False)):
        run_batch(deploy_dir, [command])
        check('detection rule after %s: %s' % (command, 'detected' if detected else 'not detected'),
              rule_holds(prefix, page.rule) == detected)

    for command in sorted(page.command_spans - ran):
        check('command line on the page that no transcript runs: %s' % command, False)
    print('%d passed, %d failed' % (len(passed), len(failures)))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())

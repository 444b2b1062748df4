# Copyright (c) 2026 Oakhaze, Inc.
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json

import pytest

from ansible.module_utils import basic
from ansible.module_utils.common.text.converters import to_bytes

from ansible_collections.oakhaze.plugin_manager.plugins.modules import product


class ExitJson(Exception):
    pass


class FailJson(Exception):
    pass


def exit_json(self, **kwargs):
    kwargs.setdefault('changed', False)
    raise ExitJson(kwargs)


def fail_json(self, **kwargs):
    kwargs['failed'] = True
    kwargs.setdefault('changed', False)
    raise FailJson(kwargs)


@pytest.fixture
def program(tmp_path):
    path = tmp_path / 'oh-installer-deploy'
    path.write_text('#!/bin/sh\nexit 0\n')
    path.chmod(0o755)
    return str(path)


@pytest.fixture
def run(monkeypatch):
    """Runs the module with the given arguments against a deploy program that
    answers (rc, stdout, stderr); gives the module's result and every command run."""
    monkeypatch.setattr(basic.AnsibleModule, 'exit_json', exit_json)
    monkeypatch.setattr(basic.AnsibleModule, 'fail_json', fail_json)
    monkeypatch.setattr(basic.AnsibleModule, 'warn', lambda self, text: self._oh_warnings.append(text), raising=False)

    def runner(args, answer=None, check=False, diff=False):
        calls, warnings = [], []
        module_args = dict(args, _ansible_check_mode=check, _ansible_diff=diff)
        monkeypatch.setattr(basic, '_ANSIBLE_ARGS', to_bytes(json.dumps({'ANSIBLE_MODULE_ARGS': module_args})))
        monkeypatch.setattr(basic.AnsibleModule, '_oh_warnings', warnings, raising=False)

        def run_command(self, cmd, *a, **kw):
            assert isinstance(cmd, list), 'the program runs from an argument list, never through a shell'
            calls.append(cmd)
            return answer

        monkeypatch.setattr(basic.AnsibleModule, 'run_command', run_command)
        with pytest.raises((ExitJson, FailJson)) as outcome:
            product.main()
        result = outcome.value.args[0]
        result['warnings'] = warnings
        return result, calls

    return runner


ABSENT = {'installed': False, 'version': None, 'intact': False}
OLD = {'installed': True, 'version': '0.9.0.0', 'intact': True}
NOW = {'installed': True, 'version': '1.0.0.0', 'intact': True}
NEWER = {'installed': True, 'version': '1.1.0.0', 'intact': True}
DAMAGED = {'installed': True, 'version': '1.0.0.0', 'intact': False}


def entry(name, before, after, action, result='success', failure=None, folder=None):
    item = {'format': name, 'folder': folder or '/usr/local/lib/' + name.lower(), 'before': before,
            'after': after, 'action': action, 'result': result}
    if failure:
        item['failure'] = failure
    return item


def report(rc, result, changed, *entries, command='install'):
    return json.dumps({
        'program': 'oh_deploy', 'managerVersion': '1.0.5', 'product': {'name': 'Velquin', 'version': '1.0.0'},
        'command': command, 'dryRun': False, 'result': result, 'exitCode': rc, 'changed': changed,
        'restartNeeded': False, 'formats': list(entries),
    })


@pytest.mark.parametrize('args, check, expected', [
    ({}, False, ['install', '--json']),
    ({'state': 'absent'}, False, ['uninstall', '--json']),
    ({'formats': ['clap', 'vst3']}, False, ['install', '--json', '--formats', 'clap,vst3']),
    ({'allow_downgrade': True}, False, ['install', '--json', '--allow-downgrade']),
    # A downgrade means nothing to an uninstall; the program would refuse the option.
    ({'state': 'absent', 'allow_downgrade': True}, False, ['uninstall', '--json']),
    ({}, True, ['install', '--json', '--dry-run']),
    ({'state': 'absent', 'formats': ['aax']}, True, ['uninstall', '--json', '--formats', 'aax', '--dry-run']),
])
def test_command_line(run, program, args, check, expected):
    calls = run(dict(args, program=program), (0, report(0, 'success', False), ''), check=check)[1]
    assert calls == [[program] + expected]


@pytest.mark.parametrize('answer, failed, changed, fragments', [
    # Each format as the program reports it; the task's outcome follows the worst.
    ((0, report(0, 'success', True, entry('VST3', ABSENT, NOW, 'install'), entry('CLAP', OLD, NOW, 'update')), ''),
     False, True, []),
    ((0, report(0, 'success', False, entry('VST3', NOW, NOW, 'none')), ''), False, False, []),
    ((0, report(0, 'success', True, entry('VST3', DAMAGED, NOW, 'repair')), ''), False, True, []),
    # A newer version is left alone with a warning, and the task does not fail for it.
    ((4, report(4, 'refused', False, entry('VST3', NEWER, NEWER, 'refused')), ''), False, False,
     ['VST3: version 1.1.0.0 in /usr/local/lib/vst3 is newer than 1.0.0; left alone']),
    ((1, report(1, 'failure', True, entry('CLAP', ABSENT, NOW, 'install'),
                entry('VST3', ABSENT, ABSENT, 'install', 'failure',
                      {'step': 'stage', 'path': 'Velquin.vst3', 'reason': 'Read-only file system'})), ''),
     True, True, ['VST3: stage failed at /usr/local/lib/vst3/Velquin.vst3: Read-only file system (exit code 1)']),
    ((3, report(3, 'busy', False, entry('AAX', NOW, NOW, 'none', 'busy')), ''), True, False,
     ['AAX: busy, another run holds it; run again later (exit code 3)']),
    ((5, report(5, 'not-root', False, entry('VST3', ABSENT, ABSENT, 'install', 'failure')), ''), True, False,
     ['needs root to change anything (become: true)']),
    # Anything but a result object is a failure that says what the program said.
    ((2, '', 'oh_deploy: unknown option --bogus\n'), True, False, ['gave no result (exit code 2): oh_deploy: unknown option --bogus']),
    ((0, 'not json', ''), True, False, ['gave no result (exit code 0): not json']),
    ((0, '[1, 2]', ''), True, False, ['gave no result']),
    # A success exit code does not hide a format that failed, nor the reverse.
    ((0, report(0, 'success', True, entry('VST3', ABSENT, ABSENT, 'install', 'failure', {'step': 'write'})), ''),
     True, True, ['VST3: write failed (exit code 0)']),
    ((1, report(1, 'failure', False), 'disk full\n'), True, False, ['disk full (exit code 1)']),
])
def test_outcome(run, program, answer, failed, changed, fragments):
    result = run({'program': program}, answer)[0]
    assert bool(result.get('failed')) is failed
    assert result['changed'] is changed
    text = result.get('msg', '') + ' '.join(result['warnings'])
    for fragment in fragments:
        assert fragment in text
    if not failed:
        # Ansible takes a result with a non-zero rc and no "failed" as failed.
        assert result['rc'] in (0, 4) and result['failed'] is False
        assert result['formats'] == json.loads(answer[1])['formats']


def test_failure_keeps_the_per_format_results(run, program):
    failing = entry('VST3', ABSENT, ABSENT, 'install', 'failure', {'step': 'stage', 'path': 'Velquin.vst3', 'reason': 'EROFS'})
    result = run({'program': program}, (1, report(1, 'failure', False, failing), ''))[0]
    assert result['rc'] == 1 and result['result'] == 'failure'
    assert result['formats'][0]['failure']['reason'] == 'EROFS'


def test_diff_shows_each_version_before_and_after(run, program):
    answer = (0, report(0, 'success', True, entry('VST3', OLD, NOW, 'update'), entry('CLAP', DAMAGED, NOW, 'repair'),
                        entry('AAX', ABSENT, NOW, 'install'), entry('VST3', dict(OLD, intact=False), NOW, 'update')), '')
    result = run({'program': program}, answer, check=True, diff=True)[0]
    assert result['diff'] == {
        'before': 'VST3 (/usr/local/lib/vst3): 0.9.0.0\n'
                  'CLAP (/usr/local/lib/clap): 1.0.0.0 (damaged)\nAAX (/usr/local/lib/aax): absent\n'
                  'VST3 (/usr/local/lib/vst3): 0.9.0.0\n',
        'after': 'VST3 (/usr/local/lib/vst3): 1.0.0.0\nCLAP (/usr/local/lib/clap): 1.0.0.0\n'
                 'AAX (/usr/local/lib/aax): 1.0.0.0\nVST3 (/usr/local/lib/vst3): 1.0.0.0\n',
    }


@pytest.mark.parametrize('formats, message', [
    ([], 'names no format'),
    (['vst3', 'clap', 'vst3'], 'names vst3 more than once'),
    (['VST3'], 'value of formats must be one or more of'),
])
def test_bad_formats_run_nothing(run, program, formats, message):
    result, calls = run({'program': program, 'formats': formats}, (0, report(0, 'success', False), ''))
    assert result['failed'] and message in result['msg']
    assert calls == []


@pytest.mark.parametrize('check, state, failed, changed', [
    (False, 'present', True, False),
    (False, 'absent', True, False),
    # Check mode cannot ask a program that the same play installs first.
    (True, 'present', False, True),
    (True, 'absent', False, False),
])
def test_missing_program(run, tmp_path, check, state, failed, changed):
    result, calls = run({'program': str(tmp_path / 'nothing-deploy'), 'state': state}, None, check=check)
    assert bool(result.get('failed')) is failed and result['changed'] is changed
    assert calls == []

#!/usr/bin/python
# -*- coding: utf-8 -*-

# Copyright (c) 2026 Oakhaze, Inc.
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: product
short_description: Installs or removes the plug-in product that an Oakhaze installer package carries
version_added: "1.0.0"
description:
  - Runs the deploy program of an installed Oakhaze Plugin Manager package (C(/usr/sbin/<package>-deploy)),
    which installs the product it carries into the machine-wide VST3, CLAP and AAX folders, or removes it.
  - The folders come only from the settings file C(/opt/Oakhaze/PluginManagerSettings.txt) on the host,
    trusted only when no one but root can change it; no option of this module names a folder.
  - Idempotent. A format whose bundle is the product's version and intact is left alone; a damaged or
    altered one is repaired; an older one is updated.
  - A format where a newer version is installed is left alone with a warning unless I(allow_downgrade) is
    set; the task does not fail for it.
  - The run leaves its lines in the host's system log under C(oh_installer).
author:
  - Oakhaze, Inc. (@oakhaze)
options:
  state:
    description:
      - C(present) installs, updates or repairs the product in every selected format.
      - C(absent) removes it from every selected format.
    type: str
    choices: [ present, absent ]
    default: present
  formats:
    description:
      - The formats to act on, each at most once.
      - Default is every format the product has.
    type: list
    elements: str
    choices: [ vst3, clap, aax ]
  allow_downgrade:
    description:
      - With I(state=present), replace a newer installed version with the product's version.
    type: bool
    default: false
  program:
    description:
      - The deploy program to run.
      - The default is the program of the demo package C(oh-installer); a package named after another
        product has its own, C(/usr/sbin/<package>-deploy).
    type: path
    default: /usr/sbin/oh-installer-deploy
attributes:
  check_mode:
    description: Can run in check mode and return changed status prediction without modifying target.
    support: full
    details: Runs the deploy program with C(--dry-run), which reports what would change and changes nothing.
  diff_mode:
    description: Will return details on what has changed (or possibly needs changing in check mode), when in diff mode.
    support: full
    details: Shows each selected format's installed version before and after.
notes:
  - Needs root (C(become=true)); the deploy program refuses to change anything otherwise.
  - Another run that holds a format (the desktop installer, or a second play) makes the task fail as busy;
    running it again later succeeds.
  - In check mode on a host where the package is not installed yet (its installation being part of the
    same play), the program is not there to ask; the task then reports a change without per-format detail.
requirements:
  - An Oakhaze Plugin Manager package on the host (see the role C(oakhaze.plugin_manager.deploy)).
'''

EXAMPLES = r'''
- name: Install Velquin in every format
  oakhaze.plugin_manager.product:
  become: true

- name: Only CLAP and VST3, replacing a newer version that someone installed by hand
  oakhaze.plugin_manager.product:
    formats: [clap, vst3]
    allow_downgrade: true
  become: true

- name: Remove it everywhere
  oakhaze.plugin_manager.product:
    state: absent
  become: true

- name: Another product's package
  oakhaze.plugin_manager.product:
    program: /usr/sbin/brindle-keys-installer-deploy
  become: true
'''

RETURN = r'''
rc:
  description: The deploy program's exit code (0 success, 1 failure, 2 bad command line, 3 busy, 4 a newer version left alone, 5 not root).
  returned: when the program ran
  type: int
  sample: 0
result:
  description: The overall result the deploy program reports.
  returned: when the program ran
  type: str
  sample: success
restart_needed:
  description: Whether a restart finishes the change.
  returned: when the program ran
  type: bool
  sample: false
product:
  description: The product the package carries.
  returned: when the program ran
  type: dict
  sample: {"name": "Velquin", "version": "1.0.0"}
formats:
  description: One entry per selected format, as the deploy program reports it.
  returned: when the program ran
  type: list
  elements: dict
  contains:
    format:
      description: VST3, CLAP or AAX.
      type: str
    folder:
      description: The folder the format goes to on this host.
      type: str
    before:
      description: The format's state before the run (installed, version, intact).
      type: dict
    after:
      description: Its state after the run; in check mode the prediction.
      type: dict
    action:
      description: none, install, update, repair, uninstall or refused.
      type: str
    result:
      description: success, failure or busy.
      type: str
    failure:
      description: On failure, the step, the path below the folder and the system's reason.
      type: dict
      returned: on failure of that format
  sample:
    - format: VST3
      folder: /usr/local/lib/vst3
      before: {"installed": false, "version": null, "intact": false}
      after: {"installed": true, "version": "1.0.0.0", "intact": true}
      action: install
      result: success
cmd:
  description: The command line that was run.
  returned: when the program ran
  type: list
  elements: str
  sample: ["/usr/sbin/oh-installer-deploy", "install", "--json"]
'''

import json
import os

from ansible.module_utils.basic import AnsibleModule

ALL_FORMATS = ('vst3', 'clap', 'aax')

# The program's exit codes on Linux.
EXIT_SUCCESS = 0
EXIT_REFUSED = 4   # a newer version was left alone
EXIT_NOT_ROOT = 5


def build_command(program, state, formats, allow_downgrade, dry_run):
    args = [program, 'install' if state == 'present' else 'uninstall', '--json']
    if formats is not None:
        args += ['--formats', ','.join(formats)]
    if allow_downgrade and state == 'present':
        args.append('--allow-downgrade')
    if dry_run:
        args.append('--dry-run')
    return args


def describe_state(state, damaged=False):
    if not state or not state.get('installed'):
        return 'absent'
    return (state.get('version') or 'unknown version') + (' (damaged)' if damaged else '')


def make_diff(formats):
    before, after = [], []
    for entry in formats:
        label = '%s (%s): ' % (entry.get('format'), entry.get('folder') or 'no folder')
        # Only a repair says the bundle there was this version, altered.
        before.append(label + describe_state(entry.get('before'), entry.get('action') == 'repair'))
        after.append(label + describe_state(entry.get('after')))
    return {'before': '\n'.join(before) + '\n', 'after': '\n'.join(after) + '\n'}


def failure_text(entry):
    name = entry.get('format')
    if entry.get('result') == 'busy':
        return '%s: busy, another run holds it; run again later' % name
    failure = entry.get('failure') or {}
    text = '%s: %s failed' % (name, failure.get('step') or entry.get('action') or 'the run')
    if failure.get('path'):
        text += ' at %s' % os.path.join(entry.get('folder') or '', failure['path'])
    if failure.get('reason'):
        text += ': %s' % failure['reason']
    return text


def refusal_text(entry, product):
    return ('%s: version %s in %s is newer than %s; left alone (allow_downgrade replaces it)'
            % (entry.get('format'), (entry.get('before') or {}).get('version'),
               entry.get('folder'), product.get('version')))


def main():
    module = AnsibleModule(
        argument_spec=dict(
            state=dict(type='str', default='present', choices=['present', 'absent']),
            formats=dict(type='list', elements='str', choices=list(ALL_FORMATS)),
            allow_downgrade=dict(type='bool', default=False),
            program=dict(type='path', default='/usr/sbin/oh-installer-deploy'),
        ),
        supports_check_mode=True,
    )
    params = module.params
    formats = params['formats']

    if formats is not None:
        if not formats:
            module.fail_json(msg='formats names no format; leave it out for every format')
        duplicates = sorted(set(f for f in formats if formats.count(f) > 1))
        if duplicates:
            module.fail_json(msg='formats names %s more than once' % ', '.join(duplicates))

    program = params['program']
    if not os.path.isfile(program) or not os.access(program, os.X_OK):
        if module.check_mode:
            # The package that brings the program may be installed by an earlier
            # task of the same play, which check mode only predicted.
            module.exit_json(changed=params['state'] == 'present', formats=[],
                             msg='%s is not installed yet; the run would install it first' % program)
        module.fail_json(msg='%s is not there; is the installer package installed?' % program)

    cmd = build_command(program, params['state'], formats, params['allow_downgrade'], module.check_mode)
    rc, out, err = module.run_command(cmd)

    try:
        report = json.loads(out)
        if not isinstance(report, dict) or not isinstance(report.get('formats'), list):
            raise ValueError('not a result object')
    except ValueError:
        module.fail_json(msg='%s gave no result (exit code %d): %s' % (program, rc, (err or out).strip()),
                         rc=rc, cmd=cmd, stdout=out, stderr=err)

    entries = report['formats']
    product = report.get('product') or {}
    result = dict(
        changed=bool(report.get('changed')),
        rc=rc,
        cmd=cmd,
        result=report.get('result'),
        restart_needed=bool(report.get('restartNeeded')),
        product=product,
        formats=entries,
    )
    if module._diff:
        result['diff'] = make_diff(entries)

    for entry in entries:
        if entry.get('action') == 'refused':
            module.warn(refusal_text(entry, product))

    if report.get('result') == 'not-root' or rc == EXIT_NOT_ROOT:
        module.fail_json(msg='%s needs root to change anything (become: true)' % program, **result)

    failed = [e for e in entries if e.get('result') in ('failure', 'busy')]
    if failed or rc not in (EXIT_SUCCESS, EXIT_REFUSED) or report.get('result') not in ('success', 'refused'):
        texts = [failure_text(e) for e in failed] or [(err or '').strip() or 'the run failed']
        module.fail_json(msg='; '.join(texts) + ' (exit code %d)' % rc, **result)

    # A newer version left alone is no failure, though its exit code is not 0.
    module.exit_json(failed=False, **result)


if __name__ == '__main__':
    main()

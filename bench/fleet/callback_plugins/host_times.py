# Copyright (c) 2026 Oakhaze, Inc.
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
name: host_times
type: aggregate
short_description: Writes when each task started and ended on each host
description:
  - For the fleet benchmark; a JSON object host -> list of [task, start, end] (seconds since the epoch)
    in the file that the environment variable OH_HOST_TIMES names.
requirements:
  - enable in configuration
'''

import json
import os
import time

from ansible.plugins.callback import CallbackBase


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = 'aggregate'
    CALLBACK_NAME = 'host_times'
    CALLBACK_NEEDS_ENABLED = True

    def __init__(self):
        super(CallbackModule, self).__init__()
        self.times = {}

    def v2_runner_on_start(self, host, task):
        self.times.setdefault(host.get_name(), []).append([task.get_name(), time.time(), None])

    def _ended(self, result):
        for entry in reversed(self.times.get(result._host.get_name(), [])):
            if entry[0] == result._task.get_name() and entry[2] is None:
                entry[2] = time.time()
                break

    v2_runner_on_ok = v2_runner_on_failed = v2_runner_on_skipped = v2_runner_on_unreachable = _ended

    def v2_playbook_on_stats(self, stats):
        with open(os.environ['OH_HOST_TIMES'], 'w') as out:
            json.dump(self.times, out)

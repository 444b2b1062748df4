"""One run of the deploy role over 4 and over 16 fresh hosts (overlays of one
image, as in tests/fleet): the wall time, each host's run of the product task
(start and end), and how many task runs were under way at once, which show
that the hosts run side by side.

Usage (as root, in a private mount namespace; bench/fleet/run does both):
bench_fleet.py WORK IMAGE DEB COLLECTION [COUNTS...]"""

import json
import os
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent.parent / 'tests' / 'fleet'))
from fleet import Fleet  # noqa: E402

SITE = HERE.parent.parent / 'tests' / 'fleet' / 'playbooks' / 'site.yml'


def run(work, image, deb, collection, count):
    names = ['h%02d' % (i + 1) for i in range(count)]
    fleet = Fleet(work, image, Path(deb).parent, collection, names,
                  group_vars={'plugin_manager_deb': '/srv/debs/' + Path(deb).name})
    fleet.up()
    try:
        times_file = Path(work) / ('host-times-%d.json' % count)
        play = fleet.play(SITE, env={'ANSIBLE_CALLBACKS_ENABLED': 'host_times',
                                     'ANSIBLE_CALLBACK_PLUGINS': str(HERE / 'callback_plugins'),
                                     'OH_HOST_TIMES': str(times_file)})
        if play.rc != 0 or any(play.failed(h) for h in names):
            print(play.output)
            raise SystemExit('bench: the run over %d hosts failed' % count)
        times = json.loads(times_file.read_text())
    finally:
        fleet.down()

    intervals = [(h, task, start, end) for h in names for task, start, end in times[h] if end is not None]
    origin = min(start for _, _, start, _ in intervals)
    wall = max(end for _, _, _, end in intervals) - origin
    # The most task runs under way at one moment, over all hosts.
    events = sorted([(start, 1) for _, _, start, _ in intervals] + [(end, -1) for _, _, _, end in intervals])
    now = most = 0
    for _, step in events:
        now += step
        most = max(most, now)
    busy = sum(end - start for _, _, start, end in intervals)
    product = {h: (start - origin, end - origin) for h, task, start, end in intervals if task.endswith('Install or remove the product')}

    print('== %d hosts: play %.1f s (ansible-playbook start to end), first task to last %.1f s' % (count, play.seconds, wall))
    print('   the product task on each host (s from the first task):')
    print('   host   start    end')
    scale = 50.0 / wall
    for h in names:
        start, end = product[h]
        print('   %-5s %6.1f %6.1f  %s%s' % (h, start, end, ' ' * int(start * scale), '#' * max(1, int(round((end - start) * scale)))))
    print('   side by side: up to %d task runs at once; task time over all hosts / wall time = %.1f'
          % (most, busy / wall))
    return play.seconds


def main():
    work, image, deb, collection = sys.argv[1:5]
    counts = [int(c) for c in sys.argv[5:]] or [4, 16]
    results = {count: run(os.path.join(work, 'bench-%d' % count), image, deb, collection, count) for count in counts}
    print('== summary: ' + ', '.join('%d hosts %.1f s' % item for item in results.items()))


if __name__ == '__main__':
    main()

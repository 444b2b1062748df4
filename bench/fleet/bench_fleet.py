"""One run of the deploy role over 4 and over 16 fresh hosts (overlays of one
image, as in tests/fleet): the wall time, and each host's first and last
moment, which show that the hosts run side by side.

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

    origin = min(start for start, _ in times.values())
    spans = {h: (times[h][0] - origin, times[h][1] - origin) for h in names}
    wall = max(end for _, end in spans.values())
    busy = sum(end - start for start, end in spans.values())
    # The most hosts between their first and last task at one moment.
    events = sorted([(s, 1) for s, _ in spans.values()] + [(e, -1) for _, e in spans.values()])
    now = most = 0
    for _, step in events:
        now += step
        most = max(most, now)

    print('== %d hosts: play %.1f s (ansible-playbook start to end), hosts busy %.1f s of %.1f s wall'
          % (count, play.seconds, busy, wall))
    print('   host   start    end   (s from the first task)')
    for h in names:
        print('   %-5s %6.1f %6.1f  %s' % (h, spans[h][0], spans[h][1],
                                          '#' * max(1, int(round((spans[h][1] - spans[h][0]) / wall * 40)))))
    print('   side by side: up to %d hosts at once; host time / wall time = %.1f' % (most, busy / wall))
    return play.seconds


def main():
    work, image, deb, collection = sys.argv[1:5]
    counts = [int(c) for c in sys.argv[5:]] or [4, 16]
    results = {count: run(os.path.join(work, 'bench-%d' % count), image, deb, collection, count) for count in counts}
    print('== summary: ' + ', '.join('%d hosts %.1f s' % item for item in results.items()))


if __name__ == '__main__':
    main()

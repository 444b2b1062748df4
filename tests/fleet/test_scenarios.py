"""The collection against several hosts at once, through the real package and
its real deploy program. The scenarios build on each other, in file order."""

import json
import os
import shutil
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).parent))
from fleet import Fleet  # noqa: E402

HERE = Path(__file__).parent
SITE = HERE / 'playbooks' / 'site.yml'
ENV = os.environ
DEB = ENV.get('OH_FLEET_DEB', '')
PROGRAM = '/usr/sbin/oh-installer-deploy'
LOG = Path(ENV.get('OH_FLEET_LOG', '/dev/null'))

BUNDLES = {
    'VST3': '/usr/local/lib/vst3/Velquin.vst3',
    'CLAP': '/usr/lib/clap/Velquin.clap',
    'AAX': '/usr/local/lib/Avid/Audio/Plug-Ins/Velquin.aaxplugin',
}
# Written by package managers and Ansible, never by the product.
NOT_OURS = ('var/cache/apt', 'var/lib/apt', 'root/.ansible', 'tmp', 'var/log')


def report(title, play):
    text = '== %s (%.1f s)\n%s\n' % (title, play.seconds, play.recap_text())
    for host, messages in sorted(play.failures.items()):
        text += '   %s: %s\n' % (host, ' | '.join(messages))
    with LOG.open('a') as log:
        log.write(text + '\n')
    print(text)


@pytest.fixture(scope='module')
def fleet():
    if not (DEB and ENV.get('OH_FLEET_IMAGE')):
        pytest.fail('run through scripts/test-fleet, which builds the packages and the image')
    hosts = ['h%d' % (i + 1) for i in range(int(ENV.get('OH_FLEET_HOSTS', '4')))]
    fleet = Fleet(ENV['OH_FLEET_WORK'], ENV['OH_FLEET_IMAGE'], Path(DEB).parent, ENV['OH_FLEET_COLLECTION'],
                  hosts, group_vars={'plugin_manager_deb': '/srv/debs/' + Path(DEB).name})
    fleet.up()
    yield fleet
    fleet.down()


def snapshot(fleet, host):
    """Everything the host holds beyond the image, less what apt and Ansible
    keep for themselves."""
    upper = fleet.root(host).parent / 'upper'
    found = {}
    for path in sorted(upper.rglob('*')):
        relative = path.relative_to(upper).as_posix()
        # Theirs, and the folders above theirs, which change with them.
        if relative.startswith(NOT_OURS) or any(n.startswith(relative + '/') for n in NOT_OURS):
            continue
        info = path.lstat()
        found[relative] = (info.st_mode, info.st_size, info.st_mtime_ns)
    return found


def status(fleet, host, program=PROGRAM):
    """The product's version per format on the host, as its own deploy program sees it."""
    done = fleet.run_in(host, program, 'status', '--json', check=False)
    entries = json.loads(done.stdout)['formats']
    return {e['format']: (e['before'] or {}).get('version') if (e['before'] or {}).get('installed') else None
            for e in entries}


def bundles(fleet, host):
    return {name: (fleet.root(host) / path.lstrip('/')).exists() for name, path in BUNDLES.items()}


def test_check_and_diff_first_predicts_and_changes_nothing(fleet):
    before = {host: snapshot(fleet, host) for host in fleet.names}
    play = fleet.play(SITE, check=True, diff=True)
    report('--check --diff on fresh hosts', play)
    assert play.rc == 0, play.output
    for host in fleet.names:
        assert play.changed(host) > 0 and play.failed(host) == 0
        assert snapshot(fleet, host) == before[host], host
        assert fleet.package_version(host) is None
    # The package's own program, asked from the .deb, predicts each format.
    for name, folder in (('VST3', '/usr/local/lib/vst3'), ('CLAP', '/usr/lib/clap')):
        assert play.output.count('-%s (%s): absent' % (name, folder)) == len(fleet.names)
        assert play.output.count('+%s (%s): 1.0.0.0' % (name, folder)) == len(fleet.names)


def test_real_run_changes_every_host(fleet):
    play = fleet.play(SITE)
    report('real run', play)
    assert play.rc == 0, play.output
    for host in fleet.names:
        assert play.changed(host) > 0 and play.failed(host) == 0
        assert fleet.package_version(host) == '1.0.0'
        assert bundles(fleet, host) == {'VST3': True, 'CLAP': True, 'AAX': True}
        assert status(fleet, host) == {'VST3': '1.0.0.0', 'CLAP': '1.0.0.0', 'AAX': '1.0.0.0'}


def test_same_run_again_changes_nothing(fleet):
    before = {host: snapshot(fleet, host) for host in fleet.names}
    play = fleet.play(SITE)
    report('the same run again', play)
    assert play.rc == 0, play.output
    for host in fleet.names:
        assert play.recap[host]['changed'] == 0 and play.failed(host) == 0
        assert snapshot(fleet, host) == before[host], host


def test_read_only_vst3_folder_fails_that_host_alone(fleet):
    # h2's VST3 bundle is gone and its folder read-only: the run must put it back and cannot.
    remove(fleet.root('h2') / BUNDLES['VST3'].lstrip('/'))
    fleet.make_read_only('h2', '/usr/local/lib/vst3')
    try:
        play = fleet.play(SITE)
    finally:
        fleet.make_writable('h2', '/usr/local/lib/vst3')
    report('h2 with a read-only VST3 folder', play)
    assert play.rc != 0
    assert play.failed('h2') == 1
    reason = ' '.join(play.failures['h2'])
    assert 'VST3' in reason and 'Read-only file system' in reason, reason
    # Nothing of h2 is lost or half-done: its other formats stay, VST3 stayed empty.
    assert bundles(fleet, 'h2') == {'VST3': False, 'CLAP': True, 'AAX': True}
    assert not any((fleet.root('h2') / 'usr/local/lib/vst3').iterdir())
    for host in set(fleet.names) - {'h2'}:
        assert play.changed(host) == 0 and play.failed(host) == 0
        assert bundles(fleet, host) == {'VST3': True, 'CLAP': True, 'AAX': True}


def put_by_hand(fleet, host, source):
    """Another version's bundles copied into the host's folders by hand (the
    generator's, with that version in their modules), in place of what was there."""
    for path in BUNDLES.values():
        target = fleet.root(host) / path.lstrip('/')
        remove(target)
        target.parent.mkdir(parents=True, exist_ok=True)
        bundle = Path(source) / target.name
        if bundle.is_dir():
            shutil.copytree(bundle, target)
        else:
            shutil.copy2(bundle, target)


def remove(path):
    if path.is_dir() and not path.is_symlink():
        shutil.rmtree(path)
    elif path.exists() or path.is_symlink():
        path.unlink()


def test_older_is_updated_newer_left_alone_unless_allow_downgrade(fleet):
    put_by_hand(fleet, 'h3', ENV['OH_FLEET_OLDER_BUNDLES'])
    put_by_hand(fleet, 'h4', ENV['OH_FLEET_NEWER_BUNDLES'])
    assert status(fleet, 'h3') == {'VST3': '0.9.0.0', 'CLAP': '0.9.0.0', 'AAX': '0.9.0.0'}
    newer = {'VST3': '1.1.0.0', 'CLAP': '1.1.0.0', 'AAX': '1.1.0.0'}
    assert status(fleet, 'h4') == newer

    check = fleet.play(SITE, check=True, diff=True, limit='h3,h4')
    report('--check --diff on an older (h3) and a newer (h4) host', check)
    assert check.rc == 0, check.output
    assert 'VST3 (/usr/local/lib/vst3): 0.9.0.0' in check.output and 'VST3 (/usr/local/lib/vst3): 1.0.0.0' in check.output
    assert status(fleet, 'h3')['VST3'] == '0.9.0.0'

    play = fleet.play(SITE)
    report('older h3 and newer h4', play)
    assert play.rc == 0, play.output
    assert play.changed('h3') > 0
    assert status(fleet, 'h3') == {'VST3': '1.0.0.0', 'CLAP': '1.0.0.0', 'AAX': '1.0.0.0'}
    assert status(fleet, 'h4') == newer
    # Warnings wrap at the terminal's width.
    assert 'VST3: version 1.1.0.0 in /usr/local/lib/vst3 is newer than 1.0.0; left alone' in ' '.join(play.output.split())
    assert play.failed('h4') == 0 and play.changed('h4') == 0

    downgrade = fleet.play(SITE, extra_vars={'plugin_manager_allow_downgrade': True}, limit='h4')
    report('h4 with allow_downgrade', downgrade)
    assert downgrade.rc == 0 and downgrade.changed('h4') > 0, downgrade.output
    assert status(fleet, 'h4') == {'VST3': '1.0.0.0', 'CLAP': '1.0.0.0', 'AAX': '1.0.0.0'}


def test_settings_variables_move_the_clap_folder(fleet, tmp_path):
    fleet.set_host_vars('h1', {'plugin_manager_folders': {'clap': '/srv/studio/clap'}})
    try:
        play = fleet.play(SITE)
    finally:
        fleet.set_host_vars('h1', None)
    report('h1 moves its CLAP folder', play)
    assert play.rc == 0, play.output
    root = fleet.root('h1')
    assert (root / 'srv/studio/clap/Velquin.clap').is_file()
    assert not (root / 'usr/lib/clap/Velquin.clap').exists()
    settings = root / 'opt/Oakhaze/PluginManagerSettings.txt'
    info = settings.stat()
    assert (info.st_uid, info.st_gid, info.st_mode & 0o7777) == (0, 0, 0o644)
    text = settings.read_bytes()
    assert b'CLAP_Path="/srv/studio/clap" VST3_Path="/usr/local/lib/vst3"' in text and text.count(b'\r\n') == 5
    assert status(fleet, 'h1')['CLAP'] == '1.0.0.0'
    for host in set(fleet.names) - {'h1'}:
        assert play.changed(host) == 0


def test_settings_file_is_the_one_the_engine_writes(fleet):
    """With no settings file and its folder there, an install writes
    the defaults itself; the role's filter gives the same bytes."""
    root = fleet.root('h2')
    settings = root / 'opt/Oakhaze/PluginManagerSettings.txt'
    (root / 'opt/Oakhaze').mkdir(parents=True, exist_ok=True)
    if settings.exists():
        settings.unlink()
    fleet.run_in('h2', PROGRAM, 'install')
    sys.path.insert(0, str(fleet.work / 'ansible' / 'collections'))
    from ansible_collections.oakhaze.plugin_manager.plugins.filter.settings import settings_xml
    assert settings.read_bytes() == settings_xml({}).encode('ascii')


def test_absent_removes_the_product_everywhere(fleet):
    fleet.set_host_vars('h1', {'plugin_manager_folders': {'clap': '/srv/studio/clap'}})
    try:
        play = fleet.play(SITE, extra_vars={'plugin_manager_state': 'absent'})
    finally:
        fleet.set_host_vars('h1', None)
    report('state: absent', play)
    assert play.rc == 0, play.output
    for host in fleet.names:
        assert bundles(fleet, host) == {'VST3': False, 'CLAP': False, 'AAX': False}
    assert not (fleet.root('h1') / 'srv/studio/clap/Velquin.clap').exists()

"""Test hosts on this one machine, and Ansible runs against them.

Each host is an overlay of one shared Debian image: its own root, its own
dpkg database, its own /opt, /usr and /var/lib, reached by Ansible through
the chroot connection. The mounts live in the mount namespace of the caller
(scripts/test-fleet makes a private one), so they end with it.
"""

import json
import os
import re
import shutil
import subprocess
import time
from pathlib import Path

RECAP_LINE = re.compile(r'^(\S+)\s+:\s+((?:\w+=\d+\s*)+)$')
FATAL_LINE = re.compile(r'^fatal: \[([^\]]+)\]: FAILED! => (\{.*\})$')


class Play:
    """One ansible-playbook run: exit status, output, recap per host and the
    failure messages per host."""

    def __init__(self, args, rc, output, seconds):
        self.args, self.rc, self.output, self.seconds = args, rc, output, seconds
        self.recap, self.failures = {}, {}
        in_recap = False
        for line in output.splitlines():
            fatal = FATAL_LINE.match(line)
            if fatal:
                try:
                    self.failures.setdefault(fatal.group(1), []).append(json.loads(fatal.group(2)).get('msg', ''))
                except ValueError:
                    self.failures.setdefault(fatal.group(1), []).append(fatal.group(2))
            if line.startswith('PLAY RECAP'):
                in_recap = True
                continue
            entry = RECAP_LINE.match(line.strip()) if in_recap else None
            if entry:
                self.recap[entry.group(1)] = {k: int(v) for k, v in (p.split('=') for p in entry.group(2).split())}

    def recap_text(self):
        return self.output[self.output.index('PLAY RECAP'):].rstrip() if 'PLAY RECAP' in self.output else '(no recap)'

    def changed(self, host):
        return self.recap[host]['changed']

    def failed(self, host):
        return self.recap[host]['failed'] + self.recap[host]['unreachable']


class Fleet:
    def __init__(self, work, image, debs, collection, names, group_vars=None):
        self.group_vars = dict(group_vars or {})
        self.work = Path(work)
        self.image = Path(image)
        self.debs = Path(debs)
        self.collection = Path(collection)
        self.names = list(names)
        self.mounts = []

    def root(self, host):
        return self.work / 'hosts' / host / 'root'

    def _mount(self, *args):
        subprocess.run(['mount'] + list(args), check=True)
        self.mounts.append(args[-1])

    def up(self):
        """Makes every host afresh: an empty upper layer over the image, with
        /proc, and the packages folder read-only at /srv/debs."""
        self.down()
        shutil.rmtree(self.work / 'hosts', ignore_errors=True)
        for host in self.names:
            base = self.work / 'hosts' / host
            for part in ('upper', 'work', 'root'):
                (base / part).mkdir(parents=True)
            root = str(base / 'root')
            self._mount('-t', 'overlay', 'overlay', '-o',
                        'lowerdir=%s,upperdir=%s,workdir=%s' % (self.image, base / 'upper', base / 'work'), root)
            self._mount('-t', 'proc', 'proc', root + '/proc')
            (base / 'root' / 'srv' / 'debs').mkdir(parents=True, exist_ok=True)
            self._mount('--bind', '-o', 'ro', str(self.debs), root + '/srv/debs')
        self._write_ansible_files()

    def down(self):
        for target in reversed(self.mounts):
            subprocess.run(['umount', '--lazy', target], check=False)
        self.mounts = []

    def make_read_only(self, host, folder):
        """A folder of the host on a read-only mount: even root cannot write there."""
        path = str(self.root(host)) + folder
        os.makedirs(path, exist_ok=True)
        self._mount('--bind', path, path)
        subprocess.run(['mount', '-o', 'remount,bind,ro', path], check=True)

    def make_writable(self, host, folder):
        path = str(self.root(host)) + folder
        subprocess.run(['umount', path], check=True)
        self.mounts.remove(path)

    def run_in(self, host, *command, check=True):
        """A command inside the host, as root."""
        return subprocess.run(['chroot', str(self.root(host))] + list(command), check=check,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)

    def package_version(self, host, package='oh-installer'):
        """The package's installed version on the host, or None."""
        out = subprocess.run(['dpkg-query', '--admindir', str(self.root(host) / 'var/lib/dpkg'), '-W',
                              '-f', '${db:Status-Abbrev}${Version}', package],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
        return out[3:] if out.startswith('ii ') else None

    def _write_ansible_files(self):
        ansible = self.work / 'ansible'
        shutil.rmtree(ansible, ignore_errors=True)
        (ansible / 'collections' / 'ansible_collections' / 'oakhaze').mkdir(parents=True)
        (ansible / 'collections' / 'ansible_collections' / 'oakhaze' / 'plugin_manager').symlink_to(self.collection)
        (ansible / 'inventory' / 'host_vars').mkdir(parents=True)
        lines = ['[fleet]']
        lines += ['%s ansible_host=%s' % (host, self.root(host)) for host in self.names]
        lines += ['', '[fleet:vars]', 'ansible_connection=community.general.chroot',
                  'ansible_python_interpreter=/usr/bin/python3']
        lines += ['%s=%s' % item for item in sorted(self.group_vars.items())] + ['']
        (ansible / 'inventory' / 'hosts.ini').write_text('\n'.join(lines))
        (ansible / 'ansible.cfg').write_text('\n'.join([
            '[defaults]',
            'inventory = %s' % (ansible / 'inventory' / 'hosts.ini'),
            'collections_path = %s' % (ansible / 'collections'),
            'forks = %d' % max(5, len(self.names)),
            'host_key_checking = False',
            'retry_files_enabled = False',
            'nocolor = True',
            'local_tmp = %s' % (ansible / 'tmp'),
            '[connection]',
            'pipelining = True',
            '',
        ]))

    def set_host_vars(self, host, variables):
        path = self.work / 'ansible' / 'inventory' / 'host_vars' / ('%s.yml' % host)
        if variables:
            path.write_text(json.dumps(variables))
        elif path.exists():
            path.unlink()

    def play(self, playbook, extra_vars=None, limit=None, check=False, diff=False, env=None):
        args = ['ansible-playbook', str(playbook)]
        if extra_vars:
            args += ['--extra-vars', json.dumps(extra_vars)]
        if limit:
            args += ['--limit', limit]
        if check:
            args.append('--check')
        if diff:
            args.append('--diff')
        run_env = dict(os.environ, ANSIBLE_CONFIG=str(self.work / 'ansible' / 'ansible.cfg'),
                       ANSIBLE_FORCE_COLOR='0', PYTHONUNBUFFERED='1')
        run_env.update(env or {})
        start = time.monotonic()
        done = subprocess.run(args, env=run_env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        return Play(args, done.returncode, done.stdout, time.monotonic() - start)

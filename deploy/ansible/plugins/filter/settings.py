# -*- coding: utf-8 -*-

# Copyright (c) 2026 Oakhaze, Inc.
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

from jinja2 import Undefined

from ansible.errors import AnsibleFilterError
from ansible.module_utils.six import string_types

DEFAULT_FOLDERS = {
    'vst3': '/usr/local/lib/vst3',
    'clap': '/usr/lib/clap',
    'aax': '/usr/local/lib/Avid/Audio/Plug-Ins',
}

NOTE = (
    'These are the paths that all Oakhaze installers will use for their respective formats. '
    'Edit them to personal taste, but keep in mind that some formats have specific homes. '
    'Use this feature at your own risk; follow the naming and separator conventions exactly '
    'as you see them, or you could end up with unintended consequences. If you delete this '
    'file, the next time you run the Plugin Manager for any OH product, a new one with the '
    'default locations will be written.'
)

ROOT = 'Plugin_Manager_Settings'
WRAP = 60
NEWLINE = '\r\n'

# What the installers' XML writer leaves as it is in an attribute value; every
# other character becomes a reference.
PLAIN = frozenset('abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789'
                  " .,;:-()_+=?!$#@[]/|*%~{}'\\")
NAMED = {'&': '&amp;', '"': '&quot;', '>': '&gt;', '<': '&lt;'}


def escape(value):
    return ''.join(c if c in PLAIN else NAMED.get(c, '&#%d;' % ord(c)) for c in value)


def folder_value(name, folders):
    value = folders.get(name, DEFAULT_FOLDERS[name])
    if not isinstance(value, string_types) or not value.startswith('/'):
        raise AnsibleFilterError('the %s folder must be a full path, not %r' % (name, value))
    if '\0' in value:
        raise AnsibleFilterError('the %s folder holds a NUL character' % name)
    # The installers keep no separator at the end of a folder.
    return value.rstrip('/') or '/'


def folder_of(name, folders):
    """The folder a format goes to under the file settings_xml(folders) writes."""
    return folder_value(name, folders)


def moved_formats(entries, folders):
    """The formats of a deploy report installed in a folder other than the one
    the new settings give them: their copy there would be left behind."""
    if isinstance(entries, Undefined):
        return entries
    moved = []
    for entry in entries or []:
        name = str(entry.get('format', '')).lower()
        if name in DEFAULT_FOLDERS and (entry.get('before') or {}).get('installed') \
                and entry.get('folder') != folder_of(name, folders):
            moved.append(name)
    return moved


def settings_xml(folders):
    # An undefined variable fails where it is used, with its own name.
    if isinstance(folders, Undefined):
        return folders
    if not isinstance(folders, dict):
        raise AnsibleFilterError('settings_xml needs a dict of folders, not %s' % type(folders).__name__)
    unknown = sorted(set(folders) - set(DEFAULT_FOLDERS))
    if unknown:
        raise AnsibleFilterError('unknown format %s; the formats are vst3, clap and aax' % ', '.join(unknown))

    attributes = [
        ('Important_Note:', NOTE),
        ('CLAP_Path', folder_value('clap', folders)),
        ('VST3_Path', folder_value('vst3', folders)),
        ('AAX_Path', folder_value('aax', folders)),
    ]

    text = '<?xml version="1.0" encoding="UTF-8"?>' + NEWLINE + NEWLINE + '<' + ROOT
    line = 0
    for name, value in attributes:
        # Past the wrap length the next attribute starts a line of its own,
        # indented to just past the element's name.
        if line > WRAP:
            text += NEWLINE + ' ' * (len(ROOT) + 1)
            line = 0
        piece = ' %s="%s"' % (name, escape(value))
        text += piece
        line += len(piece)
    return text + '/>' + NEWLINE


class FilterModule(object):
    def filters(self):
        return {'settings_xml': settings_xml, 'moved_formats': moved_formats}

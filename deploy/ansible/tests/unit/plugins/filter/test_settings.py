# Copyright (c) 2026 Oakhaze, Inc.
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import xml.parsers.expat

import pytest

from ansible.errors import AnsibleFilterError

from ansible_collections.oakhaze.plugin_manager.plugins.filter.settings import moved_formats, settings_xml

NOTE_START = 'These are the paths that all Oakhaze installers will use'


def attributes(text):
    """The root element's attributes in order, as a plain XML parser reads
    them (no namespaces: "Important_Note:" is one name)."""
    found = []
    parser = xml.parsers.expat.ParserCreate()
    parser.ordered_attributes = True
    parser.StartElementHandler = lambda name, attrs: found.append(attrs)
    parser.Parse(text.encode('utf-8'), True)
    pairs = found[0]
    return dict(zip(pairs[0::2], pairs[1::2]))


def test_defaults_as_the_installers_write_them():
    text = settings_xml({})
    lines = text.split('\r\n')
    # Declaration, an empty line, the element over as many lines as the
    # writer's 60-character wrap gives, and a final line end.
    assert lines[0] == '<?xml version="1.0" encoding="UTF-8"?>'
    assert lines[1] == ''
    assert lines[2].startswith('<Plugin_Manager_Settings Important_Note:="' + NOTE_START)
    assert lines[3] == ' ' * 25 + 'CLAP_Path="/usr/lib/clap" VST3_Path="/usr/local/lib/vst3"' \
                       ' AAX_Path="/usr/local/lib/Avid/Audio/Plug-Ins"/>'
    assert lines[4:] == ['']
    assert '\n' not in text.replace('\r\n', '')
    assert attributes(text) == {
        'Important_Note:': attributes(text)['Important_Note:'],
        'CLAP_Path': '/usr/lib/clap', 'VST3_Path': '/usr/local/lib/vst3', 'AAX_Path': '/usr/local/lib/Avid/Audio/Plug-Ins',
    }
    assert list(attributes(text)) == ['Important_Note:', 'CLAP_Path', 'VST3_Path', 'AAX_Path']


@pytest.mark.parametrize('clap, lines', [
    # The CLAP and VST3 attributes take exactly 60 characters: AAX follows on the same line.
    ('/srv/clap/abcde', [' ' * 25 + 'CLAP_Path="/srv/clap/abcde" VST3_Path="/usr/local/lib/vst3"'
                         ' AAX_Path="/usr/local/lib/Avid/Audio/Plug-Ins"/>']),
    # One more and AAX starts a line of its own.
    ('/srv/clap/abcdef', [' ' * 25 + 'CLAP_Path="/srv/clap/abcdef" VST3_Path="/usr/local/lib/vst3"',
                          ' ' * 25 + 'AAX_Path="/usr/local/lib/Avid/Audio/Plug-Ins"/>']),
])
def test_lines_wrap_past_sixty_characters(clap, lines):
    assert settings_xml({'clap': clap}).split('\r\n')[3:] == lines + ['']


@pytest.mark.parametrize('folder, written', [
    ('/srv/a&b "c" <d>', '/srv/a&amp;b &quot;c&quot; &lt;d&gt;'),
    ('/srv/Müller', '/srv/M&#252;ller'),
    ('/srv/tab\there', '/srv/tab&#9;here'),
    ('/srv/plain-_.,;:()+=?!$#@[]|*%~{}\'\\', '/srv/plain-_.,;:()+=?!$#@[]|*%~{}\'\\'),
    ('/srv/clap/', '/srv/clap'),
])
def test_values_escaped_as_the_writer_does(folder, written):
    text = settings_xml({'clap': folder})
    assert 'CLAP_Path="%s"' % written in text
    assert attributes(text)['CLAP_Path'] == folder.rstrip('/')
    assert text.isascii()


@pytest.mark.parametrize('folders, message', [
    ({'clap': 'relative/clap'}, 'must be a full path'),
    ({'clap': ''}, 'must be a full path'),
    ({'clap': None}, 'must be a full path'),
    ({'clap': '/a\0b'}, 'NUL'),
    ({'au': '/srv/au'}, 'unknown format au'),
    (['/srv'], 'needs a dict'),
])
def test_bad_folders_refused(folders, message):
    with pytest.raises(AnsibleFilterError, match=message):
        settings_xml(folders)


def test_moved_formats_are_the_installed_ones_whose_folder_changes():
    entries = [
        {'format': 'VST3', 'folder': '/usr/local/lib/vst3', 'before': {'installed': True}},
        {'format': 'CLAP', 'folder': '/usr/lib/clap', 'before': {'installed': True}},
        {'format': 'AAX', 'folder': '/old/aax', 'before': {'installed': False}},
    ]
    assert moved_formats(entries, {'clap': '/srv/clap', 'aax': '/srv/aax'}) == ['clap']
    assert moved_formats(entries, {'clap': '/usr/lib/clap/'}) == []
    assert moved_formats(entries, {'vst3': '/srv/vst3', 'clap': '/srv/clap'}) == ['vst3', 'clap']
    assert moved_formats([], {'clap': '/srv/clap'}) == []

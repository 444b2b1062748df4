// Writes the fuzz targets' seed corpora from the tests' fixtures:
//     oh_fuzz_seeds <folder>   ->   <folder>/archive, <folder>/pe_version, <folder>/settings
// Small on purpose: the fuzzer finds its way from a few well-formed inputs.
#include "Settings.h"
#include "support/PeFixture.h"
#include "support/ZipFixture.h"

#include <iostream>

namespace
{
    void writeSeed (const juce::File& folder, const char* name, const juce::MemoryBlock& bytes)
    {
        const auto f = folder.getChildFile (name);

        if (! folder.createDirectory() || ! f.replaceWithData (bytes.getData(), bytes.getSize()))
        {
            std::cerr << "cannot write " << f.getFullPathName() << "\n";
            std::exit (1);
        }
    }

    /** The archive target's input: the format's index, then the archive. */
    juce::MemoryBlock archiveSeed (int k, const ZipFixture& zip)
    {
        const auto bytes = zip.build();
        juce::MemoryBlock seed (1, true);
        seed[0] = (char) k;
        seed.append (bytes.getData(), bytes.getSize());
        return seed;
    }

    juce::MemoryBlock text (const juce::String& s)
    {
        return { s.toRawUTF8(), s.getNumBytesAsUTF8() };
    }
}

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::cerr << "usage: oh_fuzz_seeds <folder>\n";
        return 2;
    }

    const auto root = juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]);

    //==============================================================================
    PeFixture pe32Plus, pe32, noVersion;
    pe32.pe32Plus = false;
    noVersion.withVersion = false;

    const auto pe = root.getChildFile ("pe_version");
    writeSeed (pe, "pe32plus", pe32Plus.build());
    writeSeed (pe, "pe32", pe32.build());
    writeSeed (pe, "no_version", noVersion.build());

    //==============================================================================
    const auto module = pe32Plus.build();
    const auto archive = root.getChildFile ("archive");

    writeSeed (archive, "vst3_bundle", archiveSeed (0, ZipFixture()
        .directory ("Velquin.vst3\\Contents")
        .directory ("Velquin.vst3\\Contents\\x86_64-win")
        .file ("Velquin.vst3\\Contents\\x86_64-win\\Velquin.vst3", module)
        .directory ("Velquin.vst3\\Contents\\Resources")
        .file ("Velquin.vst3\\Contents\\Resources\\moduleinfo.json", "{ \"Name\": \"Velquin\", \"Version\": \"1.0.0\" }\n")
        .file ("Velquin.vst3\\desktop.ini", "[.ShellClassInfo]\r\nIconResource=Plugin.ico,0\r\n")));

    writeSeed (archive, "clap_file", archiveSeed (1, ZipFixture().file ("Velquin.clap", module)));

    writeSeed (archive, "aax_bundle", archiveSeed (2, ZipFixture()
        .directory ("Velquin.aaxplugin\\Contents")
        .directory ("Velquin.aaxplugin\\Contents\\x64")
        .file ("Velquin.aaxplugin\\Contents\\x64\\Velquin.aaxplugin", ZipFixture::sampleContent (1500, 3))
        .file ("Velquin.aaxplugin\\desktop.ini", "[.ShellClassInfo]\r\n")));

    writeSeed (archive, "escape_by_dots", archiveSeed (0, ZipFixture()
        .directory ("Velquin.vst3\\Contents")
        .file ("Velquin.vst3\\..\\..\\..\\canary\\keep.txt", "overwritten")));

    writeSeed (archive, "link_entry", archiveSeed (0, ZipFixture()
        .directory ("Velquin.vst3\\Contents")
        .file ("Velquin.vst3\\Contents\\shared", "../../../../canary").asSymbolicLink()
        .file ("Velquin.vst3\\Contents\\shared\\keep.txt", "through the link")));

    writeSeed (archive, "wrong_crc", archiveSeed (2, ZipFixture()
        .directory ("Velquin.aaxplugin\\Contents")
        .file ("Velquin.aaxplugin\\Contents\\a.bin", ZipFixture::sampleContent (800, 1))
        .file ("Velquin.aaxplugin\\Contents\\b.bin", ZipFixture::sampleContent (800, 2)).withWrongCrc()));

    //==============================================================================
    const auto settings = root.getChildFile ("settings");

    {
        // The file a first start writes, as the program writes it.
        const auto scratch = juce::File::createTempFile ("seeds");
        const auto appData = scratch.getChildFile ("appdata");
        appData.getChildFile ("Oakhaze").createDirectory();
        resolveSettings (appData, defaultFormatFolders (juce::File ("/usr/local/lib")));

        juce::MemoryBlock defaults;
        appData.getChildFile ("Oakhaze/PluginManagerSettings.txt").loadFileAsData (defaults);
        scratch.deleteRecursively (false);

        if (defaults.isEmpty())
        {
            std::cerr << "no settings file was written\n";
            return 1;
        }

        writeSeed (settings, "defaults", defaults);
    }

    writeSeed (settings, "windows_separators", text ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<Plugin_Manager_Settings VST3_Path=\"plugins\\VST3\" CLAP_Path=\"\" AAX_Path=\"Avid\\Audio\\Plug-Ins\"/>\n"));
    writeSeed (settings, "entity", text ("<?xml version=\"1.0\"?>\n<!DOCTYPE s [<!ENTITY p \"vst&#51;\">]>\n"
        "<Plugin_Manager_Settings VST3_Path=\"&p;\" CLAP_Path=\"clap\"><x/></Plugin_Manager_Settings>\n"));
    writeSeed (settings, "not_xml", text ("VST3_Path=/usr/local/lib/vst3\n"));

    return 0;
}

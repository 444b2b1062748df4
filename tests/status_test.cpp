#include "BinaryData.h"
#include "support/DemoFacts.h"
#include "PeVersion.h"
#include "Installer.h"
#include "Status.h"
#include "support/ChildProcess.h"
#include "support/PeFixture.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <fstream>
#if ! JUCE_WINDOWS
 #include <sys/stat.h>
 #include <unistd.h>
#endif

namespace
{
    juce::String versionText (const std::array<juce::uint16, 4>& v)
    {
        return juce::String (v[0]) + "." + juce::String (v[1]) + "." + juce::String (v[2]) + "." + juce::String (v[3]);
    }

    void writeBytes (const juce::File& file, const juce::MemoryBlock& bytes)
    {
        file.getParentDirectory().createDirectory();
        ASSERT_TRUE (file.replaceWithData (bytes.getData(), bytes.getSize()));
    }

    /** Writes the payload archive's single entry whose name ends with entryName. */
    bool extractModule (const char* zipData, int zipSize, const juce::String& entryName, const juce::File& dest)
    {
        juce::MemoryInputStream zipStream (zipData, (size_t) zipSize, false);
        juce::ZipFile zip (zipStream);

        for (int i = 0; i < zip.getNumEntries(); ++i)
        {
            // Payload entries use Windows separators.
            if (! zip.getEntry (i)->filename.replaceCharacter ('\\', '/').endsWith (entryName))
                continue;

            std::unique_ptr<juce::InputStream> in (zip.createStreamForEntry (i));
            dest.getParentDirectory().createDirectory();
            juce::FileOutputStream out (dest);
            out.setPosition (0);
            out.truncate();
            return in != nullptr && out.openedOk() && out.writeFromInputStream (*in, -1) == zip.getEntry (i)->uncompressedSize;
        }

        return false;
    }

    //==============================================================================
    // pev's peres, an independent reader of PE resources.
    bool havePeres()
    {
        return juce::File ("/usr/bin/peres").existsAsFile();
    }

    juce::String run (const juce::StringArray& command)
    {
        juce::ChildProcess process;

        if (! process.start (command, juce::ChildProcess::wantStdOut))
            return {};

        auto output = process.readAllProcessOutput();
        process.waitForProcessToFinish (30000);
        return output;
    }

    /** The file version as peres -v reports it. */
    juce::String peresFileVersion (const juce::File& file)
    {
        juce::String fileVersion, productVersion;

        for (auto& line : juce::StringArray::fromLines (run ({ "peres", "-v", file.getFullPathName() })))
        {
            if (line.startsWith ("File Version:"))
                fileVersion = line.fromFirstOccurrenceOf (":", false, false).trim();

            if (line.startsWith ("Product Version:"))
                productVersion = line.fromFirstOccurrenceOf (":", false, false).trim();
        }

        // pev 0.81 reads VS_FIXEDFILEINFO eight bytes early: its "File Version" is
        // then the signature 0xFEEF04BD and structure version 1.0, and the real
        // file version is what it prints as the product version.
        if (fileVersion == "65263.1213.1.0")
            return productVersion;

        return fileVersion;
    }

    /** The file version decoded from the raw RT_VERSION resource that peres -x extracts. */
    juce::String peresExtractedFileVersion (const juce::File& file, const juce::File& workFolder)
    {
        workFolder.createDirectory();
        run ({ "sh", "-c", "cd \"$0\" && peres -x \"$1\" >/dev/null 2>&1",
               workFolder.getFullPathName(), file.getFullPathName() });

        juce::MemoryBlock block;
        auto extracted = workFolder.getChildFile ("resources/versions/1.rc");

        if (! extracted.loadFileAsData (block) || block.getSize() < 92)
            return {};

        const auto* b = static_cast<const juce::uint8*> (block.getData());
        const auto u16 = [b] (size_t at) { return (int) (b[at] | (b[at + 1] << 8)); };

        // VS_VERSIONINFO header and key take 40 bytes; the fixed info's file
        // version follows its signature and structure version.
        return juce::String (u16 (50)) + "." + juce::String (u16 (48)) + "."
             + juce::String (u16 (54)) + "." + juce::String (u16 (52));
    }

    /** A PE32+ and a PE32 module, both of file version 3.14.159.2653. */
    std::array<juce::File, 2> writeBothFixtures (TempFolder& temp)
    {
        std::array<juce::File, 2> modules { temp["fixture64.dll"], temp["fixture32.dll"] };

        for (const auto pe32Plus : { true, false })
        {
            PeFixture fixture;
            fixture.pe32Plus = pe32Plus;
            fixture.fileVersion = { 3, 14, 159, 2653 };
            writeBytes (modules[pe32Plus ? 0 : 1], fixture.build());
        }

        return modules;
    }
}

//==============================================================================
TEST (PeVersion, ReadsTheFixedFileVersionOfBothHeaderKinds)
{
    TempFolder temp;

    struct Case { bool pe32Plus; std::array<juce::uint16, 4> version; };
    const Case cases[] = {
        { true,  { 1, 2, 3, 4 } },
        { false, { 1, 2, 3, 4 } },
        { true,  { 65535, 0, 7, 300 } },   // each half of each word on its own
        { false, { 0, 65535, 300, 7 } },
    };

    for (auto& c : cases)
    {
        PeFixture fixture;
        fixture.pe32Plus = c.pe32Plus;
        fixture.fileVersion = c.version;

        const auto module = temp["module.dll"];
        writeBytes (module, fixture.build());

        SCOPED_TRACE (versionText (c.version) + (c.pe32Plus ? " PE32+" : " PE32"));
        EXPECT_EQ (readFileVersion (module), versionText (c.version));
    }
}

TEST (PeVersion, AgreesWithPeres)
{
   #if JUCE_WINDOWS
    GTEST_SKIP() << "pev is a Linux program; on Windows the system's version API is the independent reader";
   #endif

    if (! havePeres())
        GTEST_SKIP() << "pev's peres is not installed (scripts/setup installs it)";

    TempFolder temp;
    int checked = 0;

    const auto check = [&] (const juce::File& module, const juce::String& expected)
    {
        SCOPED_TRACE (module.getFileName());
        const auto ours = readFileVersion (module);
        EXPECT_EQ (ours, expected);
        EXPECT_EQ (peresFileVersion (module), ours);
        EXPECT_EQ (peresExtractedFileVersion (module, temp.get().getChildFile ("peres" + juce::String (++checked))), ours);
    };

    for (const auto& module : writeBothFixtures (temp))
        check (module, "3.14.159.2653");

    // The stand-in module the demo's CLAP payload carries.
    if (! isDemoProduct())
        return;

    const auto clap = temp["Velquin.clap"];
    ASSERT_TRUE (extractModule (BinaryData::clap_zip, BinaryData::clap_zipSize, "Velquin.clap", clap));
    check (clap, "1.0.0.0");
}

#if JUCE_WINDOWS
// Windows reads versions itself (what the status shows there); our reader must
// give the same text for the fixtures and for the modules the payloads carry.
TEST (PeVersion, AgreesWithTheWindowsVersionApi)
{
    TempFolder temp;
    juce::StringArray modules;

    for (const auto& module : writeBothFixtures (temp))
    {
        EXPECT_EQ (module.getVersion(), "3.14.159.2653");
        modules.add (module.getFullPathName());
    }

    struct Payload { const char* data; int size; const char* entry; };
    const Payload payloads[] = { { BinaryData::vst3_zip, BinaryData::vst3_zipSize, "x86_64-win/Velquin.vst3" },
                                 { BinaryData::clap_zip, BinaryData::clap_zipSize, "Velquin.clap" },
                                 { BinaryData::aax_zip,  BinaryData::aax_zipSize,  "x64/Velquin.aaxplugin" } };

    for (auto& p : payloads)
    {
        const auto module = temp.get().getChildFile ("modules").getChildFile (juce::File::createLegalFileName (p.entry));
        module.getParentDirectory().createDirectory();
        ASSERT_TRUE (extractModule (p.data, p.size, p.entry, module)) << p.entry;
        EXPECT_EQ (module.getVersion(), "1.0.0.0") << p.entry;
        modules.add (module.getFullPathName());
    }

    for (auto& path : modules)
        EXPECT_EQ (readFileVersion (juce::File (path)), juce::File (path).getVersion()) << path;
}
#endif

TEST (PeVersion, EmptyForAnythingButAVersionedModule)
{
    TempFolder temp;

    PeFixture unversioned;
    unversioned.withVersion = false;

    PeFixture::Layout layout;
    auto noResources = PeFixture().build (&layout);
    PeFixture::putU32 (noResources, layout.resourceDirEntry, 0);
    PeFixture::putU32 (noResources, layout.resourceDirEntry + 4, 0);

    struct Case { const char* what; juce::MemoryBlock bytes; };
    const Case cases[] = {
        { "empty file",                 {} },
        { "text",                       juce::MemoryBlock ("not a module", 12) },
        { "DOS magic only",             juce::MemoryBlock ("MZ", 2) },
        { "PE without version resource", unversioned.build() },
        { "PE without resources",       noResources },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        writeBytes (temp["file"], c.bytes);
        EXPECT_EQ (readFileVersion (temp["file"]), juce::String());
    }

    // Things that are not files at all.
    temp["folder.dll"].createDirectory();
    EXPECT_EQ (readFileVersion (temp["folder.dll"]), juce::String());
    EXPECT_EQ (readFileVersion (temp["missing.dll"]), juce::String());
    EXPECT_EQ (readFileVersion ({}), juce::String());

   #if ! JUCE_WINDOWS   // no named pipes in the file system on Windows
    // A pipe would block a reader until someone writes to it.
    ASSERT_EQ (mkfifo (temp["pipe.dll"].getFullPathName().toRawUTF8(), 0600), 0);
    EXPECT_EQ (readFileVersion (temp["pipe.dll"]), juce::String());
   #endif
}

TEST (PeVersion, EveryTruncationShortOfTheFixedInfoGivesEmpty)
{
    TempFolder temp;

    for (auto pe32Plus : { true, false })
    {
        PeFixture fixture;
        fixture.pe32Plus = pe32Plus;
        PeFixture::Layout layout;
        const auto bytes = fixture.build (&layout);
        ASSERT_LT (layout.fixedInfoEnd, bytes.getSize());

        for (size_t length = 0; length <= bytes.getSize(); ++length)
        {
            writeBytes (temp["cut.dll"], juce::MemoryBlock (bytes.getData(), length));
            const auto expected = length >= layout.fixedInfoEnd ? juce::String ("1.2.3.4") : juce::String();

            if (readFileVersion (temp["cut.dll"]) != expected)
                FAIL() << "cut at " << length << " of " << bytes.getSize() << (pe32Plus ? " (PE32+)" : " (PE32)");
        }
    }
}

TEST (PeVersion, MalformedHeadersAndResourceTreesGiveEmpty)
{
    TempFolder temp;
    PeFixture::Layout l;
    const auto good = PeFixture().build (&l);

    using Bytes = juce::MemoryBlock;
    const auto put16 = [] (size_t at, juce::uint16 v) { return [=] (Bytes& b) { PeFixture::putU16 (b, at, v); }; };
    const auto put32 = [] (size_t at, juce::uint32 v) { return [=] (Bytes& b) { PeFixture::putU32 (b, at, v); }; };

    const auto coff = l.peHeader + 4;
    const auto rsrcSection = l.sectionTable + 40;
    const auto versionData = l.versionDataEntry;

    struct Case { const char* what; std::function<void (Bytes&)> damage; };
    const Case cases[] = {
        { "PE header beyond the file",          put32 (0x3c, 0xfffffff0) },
        { "PE header offset with the top bit",  put32 (0x3c, 0x80000000) },
        { "no PE signature",                    put16 (l.peHeader, 0x4550 + 1) },
        { "no sections",                        put16 (coff + 2, 0) },
        { "65535 sections",                     put16 (coff + 2, 0xffff) },
        { "optional header too short",          put16 (coff + 16, 8) },
        { "section table beyond the file",      put16 (coff + 16, 0xffff) },
        { "unknown optional header kind",       put16 (l.optionalHeader, 0x107) },
        { "no resource directory slot",         put32 (l.resourceDirEntry - 20, 2) },
        { "resources in no section",            put32 (l.resourceDirEntry, 0x7ffff000) },
        { "resources at the top of the space",  put32 (l.resourceDirEntry, 0xffffffff) },
        { "section data beyond the file",       put32 (rsrcSection + 20, 0xffffff00) },
        { "section smaller than its tree",      put32 (rsrcSection + 8, 0x20) },
        { "root with 131070 entries",           [=] (Bytes& b) { PeFixture::putU32 (b, l.resources + 12, 0xffffffff); } },
        { "version type points at the root",    put32 (l.versionTypeEntry + 4, 0x80000000) },
        { "version type is a leaf",             put32 (l.versionTypeEntry + 4, 0x48) },
        { "version type far away",              put32 (l.versionTypeEntry + 4, 0xfffffff0) },
        { "data beyond the file",               put32 (versionData, 0xffffff00) },
        { "data size too small",                put32 (versionData + 4, 40) },
        { "no fixed info value",                put16 (l.versionInfo + 2, 0) },
        { "length shorter than the fixed info", put16 (l.versionInfo, 60) },
        { "another key",                        put16 (l.versionInfo + 6, 'W') },
        { "wrong fixed info signature",         put32 (l.versionInfo + 40, 0xfeef04bc) },
    };

    writeBytes (temp["good.dll"], good);
    ASSERT_EQ (readFileVersion (temp["good.dll"]), "1.2.3.4");

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        auto bytes = good;
        c.damage (bytes);
        writeBytes (temp["bad.dll"], bytes);
        EXPECT_EQ (readFileVersion (temp["bad.dll"]), juce::String());
    }
}

//==============================================================================
TEST (Status, DiskStateGivesInstalledVersionAndText)
{
    TempFolder temp;
    const auto folders = defaultFormatFolders (temp["lib"]);

    PeFixture versioned;
    versioned.fileVersion = { 7, 8, 9, 10 };
    PeFixture unversioned;
    unversioned.withVersion = false;
    PeFixture::Layout layout;
    const auto module = versioned.build (&layout);
    const juce::MemoryBlock truncated (module.getData(), layout.fixedInfoEnd - 1);

    const auto innerAax = juce::String ("Contents/x64/Velquin.aaxplugin");
    writeBytes (temp["elsewhere/module.dll"], module);

    // Cases run in order on the same folders, so nothing may be remembered between probes.
    struct Case
    {
        int k;
        const char* what;
        std::function<void (const juce::File& bundle)> make;
        bool installed;
        const char* text;
    };

    const auto nothing = [] (const juce::File&) {};
    const auto folder = [] (const juce::File& b) { b.createDirectory(); };
    const auto file = [] (juce::MemoryBlock bytes) { return [bytes] (const juce::File& b) { writeBytes (b, bytes); }; };

    const Case cases[] = {
        { 0, "absent",                            nothing,                                        false, "NOT INSTALLED" },
        { 0, "plain file",                        file (juce::MemoryBlock ("x", 1)),              true,  "INSTALLED" },
        { 0, "folder with a versioned module",    [&] (auto& b) { writeBytes (b.getChildFile ("Contents/x86_64-win/Velquin.vst3"), module); },
                                                                                                  true,  "INSTALLED" },
        { 0, "versioned module as the bundle",    file (module),                                  true,  "v7.8.9.10 INSTALLED" },
        { 1, "absent",                            nothing,                                        false, "NOT INSTALLED" },
        { 1, "versioned module",                  file (module),                                  true,  "v7.8.9.10 INSTALLED" },
        { 1, "module without version",            file (unversioned.build()),                     true,  "INSTALLED" },
       #if ! JUCE_WINDOWS   // there the system decides, and Wine reads a version even from this one
        { 1, "truncated module",                  file (truncated),                               true,  "INSTALLED" },
       #endif
        { 1, "empty folder",                      folder,                                         true,  "INSTALLED" },
       #if ! JUCE_WINDOWS   // links on Windows need a privilege the tests do not assume
        // The probe opens the module itself, never what a link at its name points to.
        { 1, "link to a versioned module",        [&] (auto& b) { temp["elsewhere/module.dll"].createSymbolicLink (b, true); },
                                                                                                  true,  "INSTALLED" },
        { 1, "dangling link",                     [&] (auto& b) { temp["nowhere"].createSymbolicLink (b, true); },
                                                                                                  true,  "INSTALLED" },
       #endif
       #if ! JUCE_WINDOWS
        { 1, "pipe",                              [] (auto& b) { mkfifo (b.getFullPathName().toRawUTF8(), 0600); },
                                                                                                  true,  "INSTALLED" },
       #endif
        { 2, "absent",                            nothing,                                        false, "NOT INSTALLED" },
        { 2, "empty folder",                      folder,                                         true,  "INSTALLED" },
        { 2, "inner module",                      [&] (auto& b) { writeBytes (b.getChildFile (innerAax), module); },
                                                                                                  true,  "v7.8.9.10 INSTALLED" },
        { 2, "module in another inner folder",    [&] (auto& b) { writeBytes (b.getChildFile ("Contents/Win32/Velquin.aaxplugin"), module); },
                                                                                                  true,  "INSTALLED" },
        { 2, "versioned module as the bundle",    file (module),                                  true,  "INSTALLED" },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (formatNames[c.k] + ": " + c.what);
        const auto k = (size_t) c.k;
        const auto bundle = bundlePath (folders[k], "Velquin", c.k);
        bundle.deleteRecursively (false);
        bundle.deleteFile();
        folders[k].createDirectory();
        c.make (bundle);

        const auto status = probeFormatStatus (folders[k], "Velquin", c.k);
        EXPECT_EQ (status.installed, c.installed);
        EXPECT_EQ (status.text, c.text);
        EXPECT_EQ (status.version, juce::String (c.text).startsWith ("v") ? "7.8.9.10" : "");
    }

    // A folder from a missing settings key holds nothing.
    for (int k = 0; k < numFormats; ++k)
        EXPECT_EQ (probeFormatStatus ({}, "Velquin", k).text, "NOT INSTALLED");
}

TEST (Status, ThePayloadModulesShowTheirVersion)
{
    OH_DEMO_FACT();
    TempFolder temp;
    const auto folders = defaultFormatFolders (temp["lib"]);

    ASSERT_TRUE (extractModule (BinaryData::clap_zip, BinaryData::clap_zipSize, "Velquin.clap",
                                bundlePath (folders[1], "Velquin", 1)));
    ASSERT_TRUE (extractModule (BinaryData::aax_zip, BinaryData::aax_zipSize, "x64/Velquin.aaxplugin",
                                bundlePath (folders[2], "Velquin", 2).getChildFile ("Contents/x64/Velquin.aaxplugin")));

    EXPECT_EQ (probeFormatStatus (folders[1], "Velquin", 1).text, "v1.0.0.0 INSTALLED");
    EXPECT_EQ (probeFormatStatus (folders[2], "Velquin", 2).text, "v1.0.0.0 INSTALLED");

    // The VST3 bundle is a folder and shows no version, but its module carries one too.
    const auto vst3Module = temp["vst3-module.dll"];
    ASSERT_TRUE (extractModule (BinaryData::vst3_zip, BinaryData::vst3_zipSize, "x86_64-win/Velquin.vst3", vst3Module));
    EXPECT_EQ (readFileVersion (vst3Module), "1.0.0.0");

    // The probe runs at every paint: it reads the headers and the resource
    // tree, not the 33 MB module (the kernel counts what this process reads).
    const auto bytesReadSoFar = []
    {
        std::ifstream io ("/proc/self/io");
        std::string key;
        juce::int64 value = -1;

        while (io >> key >> value)
            if (key == "rchar:")
                return value;

        return (juce::int64) -1;
    };

    const auto before = bytesReadSoFar();
    const auto version = readFileVersion (bundlePath (folders[1], "Velquin", 1));
    const auto read = bytesReadSoFar() - before;

    ASSERT_GE (before, 0);
    EXPECT_EQ (version, "1.0.0.0");
    EXPECT_LT (read, 64 * 1024) << "bytes read for one version probe";
}

#if ! JUCE_WINDOWS
// A replacement killed between its two renames leaves the old bundle set aside
// and nothing at its name; the next install or uninstall puts it back. Until
// then it is installed, with that copy's version, to root and to a desktop user
// alike, but only where it can be ours: a folder no one else can change, and a
// copy no one else owns.
TEST (Status, ABundleWaitingAsideCountsAsInstalledWhereItCanBeOurs)
{
    TempFolder temp;
    ASSERT_EQ (chmod (temp.get().getFullPathName().toRawUTF8(), 0755), 0);   // the user may look in
    const auto folder = temp["clap"];
    ASSERT_TRUE (folder.createDirectory());
    ASSERT_EQ (chmod (folder.getFullPathName().toRawUTF8(), 0755), 0);

    PeFixture module;
    module.fileVersion = { 1, 0, 0, 0 };
    const auto aside = folder.getChildFile (setAsideName ("Velquin.clap"));
    writeBytes (aside, module.build());

    const auto status = [&] { return probeFormatStatus (folder, "Velquin", 1).text; };
    EXPECT_EQ (status(), "v1.0.0.0 INSTALLED");
    EXPECT_TRUE (probeFormatInstalled (folder, "Velquin", 1));

    const auto asUser = inChild ([&]() -> std::string
    {
        if (setresgid (4242, 4242, 4242) != 0 || setresuid (4242, 4242, 4242) != 0)
            return "skip: cannot become another user";
        const auto text = status();
        return text == "v1.0.0.0 INSTALLED" ? "" : "the user sees " + text.toStdString();
    });
    EXPECT_EQ (asUser, "");

    // Anyone could have put it there, or it is someone else's: not ours.
    ASSERT_EQ (chmod (folder.getFullPathName().toRawUTF8(), 0777), 0);
    EXPECT_EQ (status(), "NOT INSTALLED");
    ASSERT_EQ (chmod (folder.getFullPathName().toRawUTF8(), 0755), 0);
    ASSERT_EQ (chown (aside.getFullPathName().toRawUTF8(), 4242, 4242), 0);
    EXPECT_EQ (status(), "NOT INSTALLED");
    EXPECT_FALSE (probeFormatInstalled (folder, "Velquin", 1));

    // With a bundle at its own name, that one is what counts.
    ASSERT_EQ (chown (aside.getFullPathName().toRawUTF8(), 0, 0), 0);
    writeBytes (folder.getChildFile ("Velquin.clap"), juce::MemoryBlock ("x", 1));
    EXPECT_EQ (status(), "INSTALLED");
}
#endif

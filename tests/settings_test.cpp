#include "Settings.h"
#include "support/ChildProcess.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>
#if ! JUCE_WINDOWS
 #include <sys/stat.h>
 #include <unistd.h>
#endif

namespace
{
    const char* const note =
        "These are the paths that all Oakhaze installers will use for their respective formats. "
        "Edit them to personal taste, but keep in mind that some formats have specific homes. "
        "Use this feature at your own risk; follow the naming and separator conventions exactly "
        "as you see them, or you could end up with unintended consequences. If you delete this "
        "file, the next time you run the Plugin Manager for any OH product, a new one with the "
        "default locations will be written.";

    juce::String settingsXml (const juce::String& rootName, const juce::String& attributes)
    {
        return "<?xml version=\"1.0\"?>\n<" + rootName + " " + attributes + "/>\n";
    }

    juce::MemoryBlock contentOf (const juce::File& f)
    {
        juce::MemoryBlock block;
        f.loadFileAsData (block);
        return block;
    }

    /** Everything below a folder, as sorted relative paths. */
    juce::StringArray listing (const juce::File& folder)
    {
        juce::StringArray names;

        for (const auto& entry : juce::RangedDirectoryIterator (folder, true, "*", juce::File::findFilesAndDirectories, juce::File::FollowSymlinks::no))
            names.add (entry.getFile().getRelativePathFrom (folder).replaceCharacter ('\\', '/'));

        names.sort (false);
        return names;
    }
}

//==============================================================================
TEST (Settings, FirstStartWritesTheDefaultsByteForByte)
{
    TempFolder temp;
    const auto appData = temp.systemPaths().commonAppDataFolder;
    const auto settingsFolder = appData.getChildFile ("Oakhaze");
    ASSERT_TRUE (settingsFolder.createDirectory());

    // The folders of this platform; only their names are written, nothing is created there.
   #if JUCE_WINDOWS
    const auto defaults = defaultFormatFolders (juce::File ("C:\\Program Files\\Common Files"));
   #else
    const auto defaults = defaultFormatFolders (juce::File ("/"));
   #endif
    const auto resolved = resolveSettings (appData, defaults);

    EXPECT_EQ (resolved.settingsFolder, settingsFolder);
    EXPECT_EQ (resolved.formatFolders, defaults);

    // Declaration, empty line, the element with the note, then the writer's
    // 60-character wrap: 24 blanks of indent plus each attribute's own blank.
    // The Linux folders are short enough for one line.
    // (Each platform's own defaults; only their names are written.)
    const juce::String indent = juce::String::repeatedString (" ", 24 + 1);
    const auto expected = juce::String ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n")
                        + "\r\n"
                        + "<Plugin_Manager_Settings Important_Note:=\"" + note + "\"\r\n"
                      #if JUCE_WINDOWS
                        + indent + "CLAP_Path=\"C:\\Program Files\\Common Files\\CLAP\" VST3_Path=\"C:\\Program Files\\Common Files\\VST3\"\r\n"
                        + indent + "AAX_Path=\"C:\\Program Files\\Common Files\\Avid\\Audio\\Plug-Ins\"/>\r\n";
                      #else
                        + indent + "CLAP_Path=\"/usr/lib/clap\" VST3_Path=\"/usr/local/lib/vst3\""
                                 " AAX_Path=\"/usr/local/lib/Avid/Audio/Plug-Ins\"/>\r\n";
                      #endif

    const auto written = contentOf (settingsFolder.getChildFile ("PluginManagerSettings.txt"));
    EXPECT_EQ (written.toString(), expected);
    EXPECT_EQ (written.getSize(), expected.getNumBytesAsUTF8());

    // No temporary file left beside it.
    EXPECT_EQ (listing (settingsFolder), juce::StringArray ({ "PluginManagerSettings.txt" }));
}

TEST (Settings, FileStatesResolveToFolders)
{
    struct Case
    {
        const char* what;
        std::function<void (const juce::File& settingsFolder, const juce::File& wanted)> make;
        bool defaults;            ///< defaults in force (else wanted folders, AAX possibly empty)
        bool aaxEmpty;
        bool fileWritten;         ///< a fresh file with the defaults appears
    };

    const auto file = [] (const juce::File& folder) { return folder.getChildFile ("PluginManagerSettings.txt"); };
    const auto write = [file] (const juce::String& text, bool backslashes = false)
    {
        return [file, text, backslashes] (const juce::File& folder, const juce::File& wanted)
        {
            auto where = wanted.getFullPathName();
            if (backslashes)
                where = where.replaceCharacter ('/', '\\');

            folder.createDirectory();
            file (folder).replaceWithText (text.replace ("$W", where));
        };
    };

    const auto allKeys = juce::String ("VST3_Path=\"$W/vst3\" CLAP_Path=\"$W/clap\" AAX_Path=\"$W/deep/aax\"");

    const Case cases[] = {
        // Windows makes the missing folder first, for the administrators alone: any user may make one below ProgramData.
        { "maker's folder missing",       [] (auto&, auto&) {},                                       true,  false, (juce::SystemStats::getOperatingSystemType() & juce::SystemStats::Windows) != 0 },
        { "maker's folder without file",  [] (auto& folder, auto&) { folder.createDirectory(); },     true,  false, true  },
        { "all keys, forward slashes",    write (settingsXml ("Plugin_Manager_Settings", allKeys)),   false, false, false },
        { "all keys, trailing slashes",   write (settingsXml ("Plugin_Manager_Settings",
                                                 "VST3_Path=\"$W/vst3/\" CLAP_Path=\"$W/clap//\" AAX_Path=\"$W/deep/aax/\"")),
                                                                                                      false, false, false },
        { "all keys, backslashes",        write (settingsXml ("Plugin_Manager_Settings", allKeys.replaceCharacter ('/', '\\')), true),
                                                                                                      false, false, false },
        { "root of another name",         write (settingsXml ("Other_Installer", allKeys)),           false, false, false },
        { "AAX key missing",              write (settingsXml ("Plugin_Manager_Settings",
                                                 "VST3_Path=\"$W/vst3\" CLAP_Path=\"$W/clap\"")),     false, true,  false },
        { "not XML",                      write ("VST3_Path=$W/vst3"),                                true,  false, false },
        { "empty file",                   write (""),                                                 true,  false, false },
        { "folder named like the file",   [file] (auto& folder, auto&) { file (folder).createDirectory(); },
                                                                                                      true,  false, false },
       #if ! JUCE_WINDOWS   // links on Windows need a privilege the tests do not assume
        { "dangling link named like the file", [file] (auto& folder, auto& wanted)
                                          {
                                              folder.createDirectory();
                                              wanted.getChildFile ("nowhere").createSymbolicLink (file (folder), true);
                                          },                                                          true,  false, false },
       #endif
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        TempFolder temp;
        const auto paths = temp.systemPaths();
        const auto settingsFolder = paths.commonAppDataFolder.getChildFile ("Oakhaze");
        const auto wanted = temp["wanted"];
        const auto defaults = defaultFormatFolders (paths.defaultFolderBase.getChildFile ("unmade"));

        c.make (settingsFolder, wanted);
        const auto before = listing (temp.get());
        const auto bytesBefore = contentOf (file (settingsFolder));

        const auto resolved = resolveSettings (paths.commonAppDataFolder, defaults);
        EXPECT_EQ (resolved.settingsFolder, settingsFolder);

        if (c.defaults)
        {
            EXPECT_EQ (resolved.formatFolders, defaults);

            // Nothing made but, on a first start, the settings file.
            auto after = listing (temp.get());
            if (c.fileWritten)
            {
                EXPECT_TRUE (after.contains ("appdata/Oakhaze/PluginManagerSettings.txt"));
                after.removeString ("appdata/Oakhaze/PluginManagerSettings.txt");

                if (! before.contains ("appdata/Oakhaze"))
                    after.removeString ("appdata/Oakhaze");

                EXPECT_TRUE (contentOf (file (settingsFolder)).toString().contains ("VST3_Path=\"" + defaults[0].getFullPathName() + "\""));
            }
            EXPECT_EQ (after, before);
        }
        else
        {
            const PerFormat<juce::File> expected { wanted.getChildFile ("vst3"), wanted.getChildFile ("clap"),
                                                   c.aaxEmpty ? juce::File() : wanted.getChildFile ("deep/aax") };
            EXPECT_EQ (resolved.formatFolders, expected);

            // Named folders are made, parents included; an empty one makes nothing.
            juce::StringArray made { "clap", "deep", "deep/aax", "vst3" };
            if (c.aaxEmpty)
                made = { "clap", "vst3" };

            EXPECT_EQ (listing (wanted), made);
        }

        // An existing file is never rewritten.
        if (! c.fileWritten)
        {
            // As text: JUCE compares two empty blocks with memcmp (nullptr, nullptr, 0).
            EXPECT_EQ (contentOf (file (settingsFolder)).toBase64Encoding(), bytesBefore.toBase64Encoding());
        }
    }
}

// Well-formed UTF-8 is read as what it says: names in two, three and four bytes
// move the folders, spelt as characters or as references.
TEST (Settings, FolderNamesBeyondAsciiMoveTheFolders)
{
    TempFolder temp;
    const auto appData = temp.systemPaths().commonAppDataFolder;
    const auto file = appData.getChildFile ("Oakhaze/PluginManagerSettings.txt");
    ASSERT_TRUE (file.getParentDirectory().createDirectory());

    // As bytes: the framework takes a plain char string for ASCII only.
    const auto wanted = temp["wanted"].getFullPathName().toStdString();
    const auto bytes = "<?xml version=\"1.0\"?>\n<Plugin_Manager_Settings VST3_Path=\"" + wanted + "/R\xc3\xa9glages/vst3\""
                       " CLAP_Path=\"" + wanted + "/\xe2\x98\x83 clap\" AAX_Path=\"" + wanted + "/\xf0\x9f\x8e\xb9&#xe9;\"/>\n";
    ASSERT_TRUE (file.replaceWithData (bytes.data(), bytes.size()));

    const auto resolved = resolveSettings (appData, defaultFormatFolders (temp["lib"]));

    const PerFormat<juce::File> expected { temp["wanted"].getChildFile (juce::CharPointer_UTF8 ("R\xc3\xa9glages/vst3")),
                                           temp["wanted"].getChildFile (juce::CharPointer_UTF8 ("\xe2\x98\x83 clap")),
                                           temp["wanted"].getChildFile (juce::CharPointer_UTF8 ("\xf0\x9f\x8e\xb9\xc3\xa9")) };
    EXPECT_EQ (resolved.formatFolders, expected);

    for (auto& folder : expected)
        EXPECT_TRUE (folder.isDirectory()) << folder.getFullPathName();
}

TEST (Settings, AFileThatIsNotXmlIsReplacedOnlyOnceDeleted)
{
    TempFolder temp;
    const auto appData = temp.systemPaths().commonAppDataFolder;
    const auto settingsFile = appData.getChildFile ("Oakhaze/PluginManagerSettings.txt");
    const auto defaults = defaultFormatFolders (temp["lib"]);

    settingsFile.create();
    settingsFile.replaceWithText ("garbage");
    EXPECT_EQ (resolveSettings (appData, defaults).formatFolders, defaults);
    EXPECT_EQ (settingsFile.loadFileAsString(), "garbage");

    settingsFile.deleteFile();
    EXPECT_EQ (resolveSettings (appData, defaults).formatFolders, defaults);
    EXPECT_TRUE (settingsFile.loadFileAsString().startsWith ("<?xml"));

    // What was written reads back as the same folders.
    EXPECT_EQ (resolveSettings (appData, defaults).formatFolders, defaults);
}

#if JUCE_WINDOWS
TEST (Settings, RootIgnoresAFileOtherUsersCanChange)
{
    GTEST_SKIP() << "owners and modes are POSIX; Windows' rule on security descriptors is in settings_trust_test.cpp";
}
#else
TEST (Settings, RootIgnoresAFileOtherUsersCanChange)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only a root process distrusts the settings file";

    const auto owner = [] (const juce::File& f, uid_t uid) { ASSERT_EQ (chown (f.getFullPathName().toRawUTF8(), uid, 0), 0); };
    const auto mode = [] (const juce::File& f, mode_t m) { ASSERT_EQ (chmod (f.getFullPathName().toRawUTF8(), m), 0); };

    struct Case
    {
        const char* what;
        std::function<void (const juce::File& folder, const juce::File& file, const juce::File& elsewhere)> make;
        bool trusted;
        bool folderTrusted;   ///< a missing file may be written
    };

    const Case cases[] = {
        { "root's own, 0755 and 0644",       [] (auto&, auto&, auto&) {},                              true,  true  },
        { "folder owned by another user",    [=] (auto& d, auto&, auto&) { owner (d, 12345); },        false, false },
        { "folder writable by everyone",     [=] (auto& d, auto&, auto&) { mode (d, 0777); },          false, false },
        { "folder writable by its group",    [=] (auto& d, auto&, auto&) { mode (d, 0775); },          false, false },
        { "file owned by another user",      [=] (auto&, auto& f, auto&) { owner (f, 12345); },        false, true  },
        { "file writable by everyone",       [=] (auto&, auto& f, auto&) { mode (f, 0666); },          false, true  },
        { "file writable by its group",      [=] (auto&, auto& f, auto&) { mode (f, 0664); },          false, true  },
        { "a folder on the way writable by everyone", [=] (auto& d, auto&, auto&) { mode (d.getParentDirectory(), 0777); },
                                                                                                       false, false },
        { "a folder on the way owned by another user", [=] (auto& d, auto&, auto&) { owner (d.getParentDirectory(), 12345); },
                                                                                                       false, false },
        { "a sticky folder on the way, as /tmp", [=] (auto& d, auto&, auto&) { mode (d.getParentDirectory(), 01777); },
                                                                                                       true,  true  },
        { "folder links to a user's folder", [=] (auto& d, auto&, auto& e)
                                             {
                                                 ASSERT_TRUE (d.moveFileTo (e));
                                                 owner (e, 12345);
                                                 ASSERT_TRUE (e.createSymbolicLink (d, true));
                                             },                                                         false, false },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        TempFolder temp;
        const auto appData = temp.systemPaths().commonAppDataFolder;
        const auto folder = appData.getChildFile ("Oakhaze");
        const auto file = folder.getChildFile ("PluginManagerSettings.txt");
        const auto defaults = defaultFormatFolders (temp["lib"]);
        const auto wanted = temp["wanted"];

        folder.createDirectory();
        mode (folder, 0755);
        file.replaceWithText (settingsXml ("Plugin_Manager_Settings",
                                           "VST3_Path=\"$W/vst3\" CLAP_Path=\"$W/clap\" AAX_Path=\"$W/aax\"")
                                  .replace ("$W", wanted.getFullPathName()));
        mode (file, 0644);
        c.make (folder, file, temp["elsewhere"]);
        const auto bytes = contentOf (file);

        const auto resolved = resolveSettings (appData, defaults);

        if (c.trusted)
        {
            EXPECT_EQ (resolved.formatFolders[0], wanted.getChildFile ("vst3"));
            EXPECT_TRUE (wanted.getChildFile ("aax").isDirectory());
        }
        else
        {
            EXPECT_EQ (resolved.formatFolders, defaults);
            EXPECT_FALSE (wanted.exists());
        }

        EXPECT_EQ (contentOf (file), bytes);

        // Without a file, an untrusted folder gets none written either.
        file.deleteFile();
        resolveSettings (appData, defaults);
        EXPECT_EQ (file.existsAsFile(), c.folderTrusted);
    }
}
#endif

// A path value counts only as a full path: a relative one would depend on the
// folder the program was started in, "~" on whose home it sees.
TEST (Settings, AValueThatIsNoFullPathGivesTheDefaultOfItsFormat)
{
    TempFolder temp;
    const auto appData = temp.systemPaths().commonAppDataFolder;
    const auto defaults = defaultFormatFolders (temp["lib"]);
    const auto wanted = temp["wanted/clap"];

    appData.getChildFile ("Oakhaze").createDirectory();
    appData.getChildFile ("Oakhaze/PluginManagerSettings.txt")
        .replaceWithText (settingsXml ("Plugin_Manager_Settings",
                                       "VST3_Path=\"relative/vst3\" CLAP_Path=\"" + wanted.getFullPathName() + "\" AAX_Path=\"~/aax\""));

    const auto resolved = resolveSettings (appData, defaults);
    EXPECT_EQ (resolved.formatFolders, (PerFormat<juce::File> { defaults[0], wanted, defaults[2] }));
    EXPECT_FALSE (juce::File::getCurrentWorkingDirectory().getChildFile ("relative").exists());
}

// Only what a settings file can be is read: anything else counts as unreadable,
// so the defaults hold and nothing is changed or made. On POSIX each case
// resolves in a child with a time limit, so a start that would hang fails the
// case; on Windows the suite's own time limit stands in.
TEST (Settings, OnlyASmallPlainXmlFileIsRead)
{
    struct Case
    {
        const char* what;
        std::function<void (const juce::File& file, const juce::File& temp)> make;
    };

    const auto movingVst3 = [] (const juce::File& temp, const juce::String& extra = {})
    {
        return settingsXml ("Plugin_Manager_Settings",
                            "VST3_Path=\"" + temp.getChildFile ("moved").getFullPathName()
                            + "\" CLAP_Path=\"c\" AAX_Path=\"a\"" + extra);
    };

    const Case cases[] = {
       #if ! JUCE_WINDOWS
        { "a pipe", [] (auto& f, auto&) { ASSERT_EQ (mkfifo (f.getFullPathName().toRawUTF8(), 0644), 0); } },
        { "a link to /dev/zero", [] (auto& f, auto&) { ASSERT_TRUE (juce::File ("/dev/zero").createSymbolicLink (f, true)); } },
       #endif
        { "good settings grown past 64 KiB", [=] (auto& f, auto& t)
          {
              ASSERT_TRUE (f.replaceWithText ("<!-- " + juce::String::repeatedString ("padding ", 8200) + "-->\n" + movingVst3 (t)));
          } },
        { "a document type pulling in another file", [=] (auto& f, auto& t)
          {
              t.getChildFile ("where.txt").replaceWithText (t.getChildFile ("moved").getFullPathName());
              ASSERT_TRUE (f.replaceWithText ("<?xml version=\"1.0\"?>\n<!DOCTYPE r [ <!ENTITY where SYSTEM \""
                                              + t.getChildFile ("where.txt").getFullPathName() + "\"> ]>\n"
                                              "<Plugin_Manager_Settings VST3_Path=\"&where;\" CLAP_Path=\"c\" AAX_Path=\"a\"/>\n"));
          } },
        { "entities that expand without end", [] (auto& f, auto&)
          {
              juce::String dtd = "<!ENTITY a0 \"xxxxxxxxxx\">";
              for (int i = 1; i < 10; ++i)
                  dtd << "<!ENTITY a" << i << " \"" << juce::String::repeatedString ("&a" + juce::String (i - 1) + ";", 10) << "\">";
              ASSERT_TRUE (f.replaceWithText ("<?xml version=\"1.0\"?>\n<!DOCTYPE r [" + dtd + "]>\n"
                                              "<Plugin_Manager_Settings VST3_Path=\"&a9;\" CLAP_Path=\"c\" AAX_Path=\"a\"/>\n"));
          } },
        { "good settings with bytes that are not UTF-8", [=] (auto& f, auto& t)
          {
              // The file ends inside a character: the parser would read past the text.
              auto text = movingVst3 (t).toStdString();
              text.resize (text.size() - 3);
              text += " Important_Note:=\"x\xe2";
              ASSERT_TRUE (f.replaceWithData (text.data(), text.size()));
          } },
        { "good settings with a character spelt in too many bytes", [=] (auto& f, auto& t)
          {
              // U+BF7B in four bytes: the framework would copy past its buffer.
              auto text = movingVst3 (t).toStdString();
              text.insert (text.find ("VST3_Path"), "Note=\"\xf0\x8b\xbd\xbb\" ");
              ASSERT_TRUE (f.replaceWithData (text.data(), text.size()));
          } },
        { "good settings with a hex reference that is no number", [=] (auto& f, auto& t)
          {
              // Cut off at the end of the file, the framework would read past the text.
              auto text = movingVst3 (t);
              ASSERT_TRUE (f.replaceWithText (text.replace ("/>", ">&#xZ</Plugin_Manager_Settings>")));
          } },
        { "good settings with an instruction inside the element", [=] (auto& f, auto& t)
          {
              auto text = movingVst3 (t);
              ASSERT_TRUE (f.replaceWithText (text.replace ("/>", "><?later?>x</Plugin_Manager_Settings>")));
          } },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        TempFolder temp;
        const auto appData = temp.systemPaths().commonAppDataFolder;
        const auto file = appData.getChildFile ("Oakhaze/PluginManagerSettings.txt");
        const auto defaults = defaultFormatFolders (temp["lib"]);
        ASSERT_TRUE (file.getParentDirectory().createDirectory());

        c.make (file, temp.get());
        const auto before = listing (temp.get());
       #if JUCE_WINDOWS
        const auto isPlainFile = file.existsAsFile();
       #else
        struct stat info;   // a pipe would block a read
        const auto isPlainFile = lstat (file.getFullPathName().toRawUTF8(), &info) == 0 && S_ISREG (info.st_mode);
       #endif
        const auto bytes = isPlainFile ? contentOf (file) : juce::MemoryBlock();

        const auto resolve = [&]() -> std::string
        {
            if (resolveSettings (appData, defaults).formatFolders != defaults)
                return "the file steered the folders";

            return {};
        };

       #if JUCE_WINDOWS
        const auto message = resolve();
       #else
        const auto message = inChild (resolve, 20);
       #endif

        EXPECT_EQ (message, "");
        EXPECT_EQ (listing (temp.get()), before) << "nothing made, nothing written";

        if (! bytes.isEmpty())
        {
            EXPECT_EQ (contentOf (file), bytes);
        }
    }
}

#if JUCE_WINDOWS
TEST (Settings, FoldersItMakesGet0755WhateverTheUmask) { GTEST_SKIP() << "modes and the umask are POSIX facilities"; }
#else
// Folders named in the file are made readable for every host, whatever the umask.
TEST (Settings, FoldersItMakesGet0755WhateverTheUmask)
{
    TempFolder temp;
    const auto appData = temp.systemPaths().commonAppDataFolder;
    const auto file = appData.getChildFile ("Oakhaze/PluginManagerSettings.txt");
    ASSERT_TRUE (file.create().wasOk());
    ASSERT_TRUE (file.replaceWithText (settingsXml ("Plugin_Manager_Settings",
                                                    "VST3_Path=\"$W/deep/vst3\" CLAP_Path=\"$W/clap\" AAX_Path=\"$W/aax\"")
                                           .replace ("$W", temp["wanted"].getFullPathName())));

    const auto previous = umask (077);
    const auto resolved = resolveSettings (appData, defaultFormatFolders (temp["lib"]));
    umask (previous);

    ASSERT_EQ (resolved.formatFolders[0], temp["wanted/deep/vst3"]);

    for (auto* made : { "wanted", "wanted/deep", "wanted/deep/vst3", "wanted/clap", "wanted/aax" })
    {
        struct stat info;
        ASSERT_EQ (stat (temp[made].getFullPathName().toRawUTF8(), &info), 0) << made;
        EXPECT_EQ (info.st_mode & 07777, 0755u) << made;
    }
}
#endif

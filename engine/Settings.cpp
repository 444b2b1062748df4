#include "Settings.h"
#include "SettingsTrust.h"

#include "FileOps.h"
#include "Utf8.h"

#include <cstring>

#if ! JUCE_WINDOWS
 #include <cerrno>
 #include <sys/stat.h>
 #include <unistd.h>
#endif

namespace
{
    const char* const settingsFileName = "PluginManagerSettings.txt";

    const char* const importantNote =
        "These are the paths that all Oakhaze installers will use for their respective formats. "
        "Edit them to personal taste, but keep in mind that some formats have specific homes. "
        "Use this feature at your own risk; follow the naming and separator conventions exactly "
        "as you see them, or you could end up with unintended consequences. If you delete this "
        "file, the next time you run the Plugin Manager for any OH product, a new one with the "
        "default locations will be written.";

    // Attribute keys, entry k for format k.
    const char* const pathKeys[] = { "VST3_Path", "CLAP_Path", "AAX_Path" };

    /** A root process lets the file steer where it writes and deletes only when
        no other user can change it: every user can write a settings file that
        lies in, or is, something not owned by root or writable by group or others.
        On Windows the same rule reads owners and access lists (SettingsTrust). */
   #if ! JUCE_WINDOWS
    bool isTrustedByThisProcess (const juce::File& path)
    {
        if (geteuid() != 0)
            return true;

        struct stat info;

        if (stat (path.getFullPathName().toRawUTF8(), &info) != 0)
            return errno == ENOENT;

        return info.st_uid == 0 && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    }
   #endif

    /** A path value as a folder. Values may use either separator, as the file is
        shared with the maker's Windows installers; a relative value lies below
        the working directory, an empty one gives no folder at all. */
    juce::File folderFromValue (juce::String value)
    {
        if (value.isEmpty())
            return {};

       #if ! JUCE_WINDOWS
        value = value.replaceCharacter ('\\', '/');
       #endif

        return juce::File::getCurrentWorkingDirectory().getChildFile (value);
    }

    /** Every '&' starts a reference as XML has them: a name, a decimal or a hex
        number, closed by ';'. The framework's parser steps past the end of the
        text after a hex reference that is cut off. */
    bool referencesAreWellFormed (const juce::uint8* p, size_t size)
    {
        const auto* end = p + size;
        const auto isDigit = [] (juce::uint8 c) { return c >= '0' && c <= '9'; };
        const auto isHex = [&] (juce::uint8 c) { return isDigit (c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); };
        const auto isNameChar = [&] (juce::uint8 c)
        {
            return isDigit (c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c == '.' || c == '-';
        };

        while (p < end && (p = static_cast<const juce::uint8*> (std::memchr (p, '&', (size_t) (end - p)))) != nullptr)
        {
            enum { name, decimal, hex } kind = name;

            if (++p < end && *p == '#')
            {
                kind = decimal;

                if (++p < end && (*p == 'x' || *p == 'X'))
                {
                    kind = hex;
                    ++p;
                }
            }

            const auto* start = p;

            while (p < end && (kind == hex ? isHex (*p) : kind == decimal ? isDigit (*p) : isNameChar (*p)))
                ++p;

            if (p == start || p == end || *p != ';')
                return false;
        }

        return true;
    }

    /** The settings file's root element, or nothing when the file is not what a
        settings file can be: a plain file of at most 64 KiB holding UTF-8 XML without
        a document type (which could pull in other files or expand without end) and
        without processing instructions past the declaration. */
    constexpr size_t maxSettingsSize = 64 * 1024;

    std::unique_ptr<juce::XmlElement> parseSettingsFile (const juce::MemoryBlock& content)
    {
        // The framework steps through UTF-8 trusting every lead byte and sizes
        // copies by what it decodes, so a character cut off at the end, or one
        // spelt in too many bytes, would take it past the text.
        const auto* bytes = static_cast<const juce::uint8*> (content.getData());

        if (! isWellFormedUtf8 (bytes, content.getSize()) || ! referencesAreWellFormed (bytes, content.getSize()))
            return {};

        const auto text = content.toString();

        if (text.containsIgnoreCase ("<!DOCTYPE") || text.containsIgnoreCase ("<!ENTITY"))
            return {};

        // Only the declaration at the start: a processing instruction followed by
        // text inside an element sends the framework's parser round for ever.
        const auto body = text.trimStart();

        if (body.indexOf (body.startsWith ("<?") ? 2 : 0, "<?") >= 0)
            return {};

        return juce::parseXML (text);
    }

    juce::XmlElement defaultSettings (const PerFormat<juce::File>& defaults)
    {
        juce::XmlElement root ("Plugin_Manager_Settings");
        root.setAttribute ("Important_Note:", importantNote);
        root.setAttribute ("CLAP_Path", defaults[1].getFullPathName());
        root.setAttribute ("VST3_Path", defaults[0].getFullPathName());
        root.setAttribute ("AAX_Path", defaults[2].getFullPathName());
        return root;
    }

    void applySettings (const juce::XmlElement& root, ResolvedSettings& resolved)
    {
        for (int k = 0; k < numFormats; ++k)
        {
            const auto folder = folderFromValue (root.getStringAttribute (pathKeys[k]));
            resolved.formatFolders[(size_t) k] = folder;

            // Made like the installer's own folders, readable by the hosts whatever the umask.
            if (folder != juce::File() && ! folder.exists())
                FileOps::openTargetFolder (folder, true);
        }
    }
}

ResolvedSettings resolveSettings (const juce::File& commonAppDataFolder,
                                  const PerFormat<juce::File>& defaultFolders)
{
    ResolvedSettings resolved;
    resolved.settingsFolder = commonAppDataFolder.getChildFile ("Oakhaze");
    resolved.formatFolders = defaultFolders;

   #if JUCE_WINDOWS
    // Checked and read (or written) through handles, never by path again.
    const auto defaultText = defaultSettings (defaultFolders).toString();
    const juce::MemoryBlock defaults (defaultText.toRawUTF8(), defaultText.getNumBytesAsUTF8());
    juce::MemoryBlock content;

    if (SettingsTrust::readOrCreate (resolved.settingsFolder, settingsFileName, maxSettingsSize, content, defaults)
         == SettingsTrust::Stored::read)
    {
        // Not XML, or empty: the defaults stay and the file is left as it is.
        if (const auto root = parseSettingsFile (content))
            applySettings (*root, resolved);
    }

    return resolved;
   #else
    const auto settingsFile = resolved.settingsFolder.getChildFile (settingsFileName);

    if (! isTrustedByThisProcess (resolved.settingsFolder) || ! isTrustedByThisProcess (settingsFile))
        return resolved;

    if (settingsFile.existsAsFile())
    {
        // Not XML, or empty: the defaults stay and the file is left as it is.
        juce::MemoryBlock content;

        if (FileOps::readSmallFile (settingsFile, maxSettingsSize, content))
            if (const auto root = parseSettingsFile (content))
                applySettings (*root, resolved);

        return resolved;
    }

    // Only where nothing at all is in the way: a folder or a dangling link under
    // the file's name is left alone, and the defaults hold for this run.
    // Written to a temporary file beside it and moved over: a missing folder
    // makes this fail, and the next start tries again.
    if (! settingsFile.exists() && ! settingsFile.isSymbolicLink())
        defaultSettings (defaultFolders).writeTo (settingsFile);

    return resolved;
   #endif
}

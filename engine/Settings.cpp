#include "Settings.h"
#include "SettingsTrust.h"

#include "FileOps.h"
#include "Utf8.h"

#include <cstring>

#if ! JUCE_WINDOWS
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

    /** Whether the file must prove that no other user can change it before it
        may steer where we write and delete: always for an elevated Windows
        program, for root on POSIX. */
    bool mustCheckTrust()
    {
       #if JUCE_WINDOWS
        return true;
       #else
        return geteuid() == 0;
       #endif
    }

    /** A path value as a folder. Values may use either separator, as the file is
        shared with the maker's Windows installers; an empty one gives no folder
        at all. Only a full path is taken: a relative one (or "~") would depend
        on where and as whom the program was started, and gives the format's
        default instead. */
    juce::File folderFromValue (juce::String value, const juce::File& defaultFolder)
    {
        if (value.isEmpty())
            return {};

       #if JUCE_WINDOWS
        const bool full = juce::File::isAbsolutePath (value) && ! value.startsWithChar ('~');
       #else
        value = value.replaceCharacter ('\\', '/');
        const bool full = value.startsWithChar ('/');
       #endif

        return full ? juce::File (value) : defaultFolder;
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

    std::unique_ptr<juce::XmlElement> readSettingsFile (const FileOps::Handle& file)
    {
        juce::MemoryBlock content;

        if (! FileOps::readSmallFile (file, maxSettingsSize, content))
            return {};

        return parseSettingsFile (content);
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

    /** Writes the defaults as a new settings file. On Windows through the
        folder's handle as an administrators-only file, and only in a folder no
        one else can empty; elsewhere to a temporary file beside it, moved over.
        A missing folder makes this fail, and the next start tries again. */
    void writeDefaults (const juce::File& settingsFolder, const PerFormat<juce::File>& defaults)
    {
        const auto root = defaultSettings (defaults);
       #if JUCE_WINDOWS
        const auto text = root.toString();
        const juce::MemoryBlock bytes (text.toRawUTF8(), text.getNumBytesAsUTF8());
        juce::MemoryBlock ignored;
        SettingsTrust::readOrCreate (settingsFolder, settingsFileName, maxSettingsSize, ignored, bytes);
       #else
        root.writeTo (settingsFolder.getChildFile (settingsFileName));
       #endif
    }
}

ResolvedSettings resolveSettings (const juce::File& commonAppDataFolder,
                                  const PerFormat<juce::File>& defaultFolders,
                                  bool mayWrite)
{
    ResolvedSettings resolved;
    resolved.settingsFolder = commonAppDataFolder.getChildFile ("Oakhaze");
    resolved.formatFolders = defaultFolders;

    resolved.settingsFile = resolved.settingsFolder.getChildFile (settingsFileName);

   #if JUCE_WINDOWS
    SettingsTrust::makeFolderIfMissing (resolved.settingsFolder);
   #endif

    // The folder is opened from the root one part at a time, and the file is
    // checked and read through the one handle: what was checked is what is read.
    FileOps::PathReport report;
    const auto folder = FileOps::openTargetFolder (resolved.settingsFolder, false, &report);
    const bool checkTrust = mustCheckTrust();

    // A root process lets the file steer where it writes and deletes only when
    // no other user can change it, its folder, or any folder on the way there.
    if (! folder || (checkTrust && (! report.holdersGuarded || ! FileOps::onlyPrivilegedCanChange (folder, false))))
    {
        if (folder)
            resolved.ignoredBecause = "its folder, or one on the way, may be changed by others than the administrators";
        else if (report.untrustedLink)
            resolved.ignoredBecause = "a link on the way to it may have been put there by another user";
        else if (! report.missing)
            resolved.ignoredBecause = "its folder could not be opened";

        return resolved;
    }

    const auto kind = FileOps::kindOf (folder, settingsFileName);

    if (kind == FileOps::Kind::file)
    {
        const auto file = FileOps::openForReading (folder, settingsFileName);

        if (! file || (checkTrust && ! FileOps::onlyPrivilegedCanChange (file, false)))
        {
            resolved.ignoredBecause = ! file                         ? "it could not be opened"
                                    : ! FileOps::isOwnedByUs (file)  ? "it is owned by an account other than the administrators"
                                                                     : "it may be changed by others than the administrators";
            return resolved;
        }

        // Not XML, or empty: the defaults stay and the file is left as it is.
        const auto root = readSettingsFile (file);

        if (root == nullptr)
        {
            resolved.ignoredBecause = "not a settings file (UTF-8 XML of at most 64 KiB, no document type)";
            return resolved;
        }

        resolved.fromSettingsFile = true;

        for (int k = 0; k < numFormats; ++k)
        {
            const auto value = folderFromValue (root->getStringAttribute (pathKeys[k]), defaultFolders[(size_t) k]);
            resolved.formatFolders[(size_t) k] = value;

            // Made like the installer's own folders, readable by the hosts whatever
            // the umask, and by the same rule about links on the way.
            if (value != juce::File() && mayWrite)
                FileOps::openTargetFolder (value, true);
        }

        return resolved;
    }

    // Only where nothing at all is in the way: a folder or a link under the
    // file's name is left alone, and the defaults hold for this run.
    if (kind == FileOps::Kind::missing)
    {
        if (mayWrite)
            writeDefaults (resolved.settingsFolder, defaultFolders);
    }
    else
        resolved.ignoredBecause = "not a plain file";

    return resolved;
}

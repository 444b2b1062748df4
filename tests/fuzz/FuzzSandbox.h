#pragma once

#include <juce_core/juce_core.h>
#include <map>
#include <string>

/** Shared ground of the fuzz targets: a workspace the engine may write into,
    a machine it may not, and a record of a folder tree to compare against. */
namespace FuzzSandbox
{
    /** A fresh folder below the temporary folder, mode 0755 (owned by the
        user, as a settings or plug-in folder of root's would be). Aborts
        when none can be made. */
    juce::File makeWorkspace (const char* name);

    /** Removes the workspace when the fuzzer ends normally; after a finding it stays. */
    void removeAtExit (const juce::File& workspace);

    /** Puts this process in a private mount namespace in which the whole
        machine is read-only except the workspace and the folders libFuzzer
        writes to (the corpus folders and artifact paths among argv). The
        engine runs as root and takes paths from fuzzed bytes: whatever a
        fault makes it do, the machine stays as it was. The workspace becomes
        an empty tmpfs: lay it out afterwards. Aborts when it cannot (needs
        root). */
    void confineWritesTo (const juce::File& workspace, int argc, char** argv);

    /** Makes f hold exactly these bytes; an empty input leaves an empty file. */
    void writeFile (const juce::File& f, const void* data, size_t size);

    /** Everything below a folder, links not followed: relative path ->
        kind, mode, owner, and the bytes of a file or the target of a link. */
    using Tree = std::map<std::string, std::string>;
    Tree snapshot (const juce::File& root);

    /** Prints what differs between two snapshots and aborts, so that libFuzzer
        keeps the input that did it. */
    void expectSameTree (const Tree& expected, const Tree& actual, const char* what);

    /** Removes a file, link or folder tree without following links. */
    void removeTree (const juce::File& f);

    /** Aborts with a message: an invariant of the target failed. */
    [[noreturn]] void fail (const juce::String& message);
}

#pragma once

#include <juce_core/juce_core.h>

#if JUCE_WINDOWS
/** Owners and access lists where the file system keeps none. Windows keeps
    what it is given, and an elevated test process creates what it makes owned
    by Administrators. Upstream Wine keeps nothing: it makes every descriptor up
    from the file's mode, owned by the token's own user, and drops what it is
    given. Under Wine alone the engine's reads of descriptors go through a
    stand-in that answers what Windows would: what a test or the engine gave a
    file, or else what an elevated process made, the token's user read as
    Administrators. A real Windows gets none: unelevated, a run there would
    test the stand-in instead of Windows' security, and fails instead. */
namespace SecurityStandIn
{
    /** True where the file system keeps the descriptors it is given. */
    bool systemKeepsDescriptors();

    /** Gives f the owner and access list of the SDDL text (a list without "P"
        also takes what its folder passes on): on the file where the system
        keeps it, else to the stand-in. */
    void apply (const juce::File& f, const juce::String& sddl);

    /** The stand-in, in force for the whole run under Wine. */
    void installWhereNeeded();

    /** The process token's own user, as SDDL text. */
    juce::String tokenUser();
}
#endif

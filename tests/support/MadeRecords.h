#pragma once

#include "FileOps.h"
#include "StateFolder.h"

/** Records the object at path in the state folder as one a run of ours made,
    as that run would have: what a killed run leaves behind. */
inline bool recordAsMade (const juce::File& stateFolder, const juce::String& bundleFileName, StateFolder::Made made,
                          const juce::File& object)
{
    const auto state = StateFolder::open (stateFolder);
    const auto parent = FileOps::openTargetFolder (object.getParentDirectory(), false);
    return state && parent
            && StateFolder::recordMade (state, bundleFileName, made, FileOps::identityOf (parent, object.getFileName()));
}

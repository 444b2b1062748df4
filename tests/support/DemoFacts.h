#pragma once

#include <juce_core/juce_core.h>

// The shipped demo product has facts of its own: its licence text, and the
// stand-in bundles the generator makes (their layout, versions, icons and
// module descriptions). A build for any other product skips those checks and
// must pass every other one.
constexpr bool isDemoProduct() noexcept   { return OH_DEMO_PRODUCT != 0; }

/** A file of the build machine, named by the build. Under Wine the build
    machine's root is drive Z:; the Windows test kit carries copies below the
    folder OH_BUILD_MACHINE_ROOT names. */
inline juce::File buildMachineFile (const char* path)
{
   #if JUCE_WINDOWS
    const auto root = juce::SystemStats::getEnvironmentVariable ("OH_BUILD_MACHINE_ROOT", "Z:");
    return juce::File (root + juce::String (path).replaceCharacter ('/', '\\'));
   #else
    return juce::File (path);
   #endif
}

/** The folder the payloads were packed from, in the build tree or the maker's. */
inline juce::File bundleSourceFolder()   { return buildMachineFile (OH_BUNDLE_ROOT); }

#define OH_DEMO_FACT() \
    do { if (! isDemoProduct()) GTEST_SKIP() << "a fact of the demo product"; } while (false)

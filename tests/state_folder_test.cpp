#include "StateFolder.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#if ! JUCE_WINDOWS
 #include <sys/stat.h>
#endif

// One run per bundle name at a time; a second is told busy, not made to wait.
TEST (StateFolder, ABundleLockIsHeldByOneRunAtATime)
{
    const TempFolder temp;
    const auto folder = temp.systemPaths().stateFolder;

    const auto state = StateFolder::open (folder);
    ASSERT_TRUE (state.isValid());
    EXPECT_TRUE (folder.isDirectory()) << "made when missing";

    FileOps::Lock first, second, other;
    auto held = StateFolder::lockBundle (state, "Velquin.vst3", first);
    EXPECT_EQ (first, FileOps::Lock::taken);

    const auto again = StateFolder::lockBundle (StateFolder::open (folder), "Velquin.vst3", second);
    EXPECT_EQ (second, FileOps::Lock::busy);
    EXPECT_FALSE (again.isValid());

    const auto otherFormat = StateFolder::lockBundle (state, "Velquin.clap", other);
    EXPECT_EQ (other, FileOps::Lock::taken) << "formats lock one by one";

    held.close();
    FileOps::Lock afterwards;
    EXPECT_TRUE (StateFolder::lockBundle (state, "Velquin.vst3", afterwards).isValid());
    EXPECT_EQ (afterwards, FileOps::Lock::taken);
}

#if ! JUCE_WINDOWS
// What others may change cannot be believed, and a lock others may open they could hold for ever.
TEST (StateFolder, FoldersAndLocksOthersCanTouchAreRefused)
{
    const TempFolder temp;
    const auto folder = temp.systemPaths().stateFolder;
    ASSERT_TRUE (folder.createDirectory());

    ASSERT_EQ (chmod (folder.getFullPathName().toRawUTF8(), 0775), 0);
    juce::String why;
    EXPECT_FALSE (StateFolder::open (folder, &why).isValid());
    EXPECT_TRUE (why.contains ("may be changed by others")) << why;

    ASSERT_EQ (chmod (folder.getFullPathName().toRawUTF8(), 0700), 0);
    const auto state = StateFolder::open (folder);
    ASSERT_TRUE (state.isValid());

    const auto lockFile = folder.getChildFile ("Velquin.clap.lock");
    ASSERT_TRUE (lockFile.replaceWithText ("x"));
    ASSERT_EQ (chmod (lockFile.getFullPathName().toRawUTF8(), 0644), 0);
    FileOps::Lock result;
    EXPECT_FALSE (StateFolder::lockBundle (state, "Velquin.clap", result).isValid());
    EXPECT_EQ (result, FileOps::Lock::failed);

    ASSERT_TRUE (lockFile.deleteFile());
    ASSERT_TRUE (folder.getChildFile ("elsewhere").createDirectory());
    ASSERT_EQ (symlink ("elsewhere", lockFile.getFullPathName().toRawUTF8()), 0);
    EXPECT_FALSE (StateFolder::lockBundle (state, "Velquin.clap", result).isValid()) << "never through a link";
}
#endif

#if JUCE_WINDOWS
 #include "SettingsTrust.h"
 #include "WindowsCalls.h"
 #include "support/SecurityStandIn.h"

// A lock file is opened by no one else while a run holds it; so only the
// administrators may open it at all: a user who could read it would hold it
// for ever and look like a run. One others may read is refused.
TEST (StateFolder, LockFilesAreTheAdministratorsAlone)
{
    const TempFolder temp;
    const auto folder = temp.systemPaths().stateFolder;
    const auto state = StateFolder::open (folder);
    ASSERT_TRUE (state.isValid());

    FileOps::Lock result;
    auto held = StateFolder::lockBundle (state, "Velquin.vst3", result);
    ASSERT_EQ (result, FileOps::Lock::taken);
    EXPECT_TRUE (WindowsCalls::securityPasses ((HANDLE) held.native(), SettingsTrust::isPrivateDescriptor));

    const auto readable = folder.getChildFile ("Velquin.clap.lock");
    ASSERT_TRUE (readable.replaceWithText ("x"));
    SecurityStandIn::apply (readable, "O:BAD:P(A;;FA;;;BA)(A;;FA;;;SY)(A;;FR;;;BU)");
    EXPECT_FALSE (StateFolder::lockBundle (state, "Velquin.clap", result).isValid());
    EXPECT_EQ (result, FileOps::Lock::failed);
}
#endif

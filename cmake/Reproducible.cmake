# The same sources give the same bytes in any build folder, at any time: no
# folder names in the objects, no link time in the Windows executable.
#
# Included after cmake/JuceLibrary.cmake on purpose: the options reach only the
# targets made from here on. The framework's sources live in the system's own
# folder, the same for every build, and so keep one compiler-cache entry for
# all build folders.
add_compile_options (
    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=source/>"
    # The build folder may lie inside the source folder: named last, it wins.
    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}/=build/>")

if (WIN32)
    # A PE header carries the link time unless told not to.
    add_link_options (-Wl,--no-insert-timestamp)
endif()

# The framework's Time::getCompilationDate reads __DATE__ and __TIME__, which
# would put the compile minute into every program; nothing here asks for it.
# One fixed value (the payloads' time stamp) on that one source file keeps the
# framework's other objects in the compiler cache.
get_target_property (oh_juce_core_sources juce::juce_core INTERFACE_SOURCES)
list (FILTER oh_juce_core_sources INCLUDE REGEX "/juce_core\\.cpp$")
if (NOT oh_juce_core_sources)
    message (FATAL_ERROR "juce_core.cpp not found among the framework's sources")
endif()
set_source_files_properties (${oh_juce_core_sources} PROPERTIES
    COMPILE_DEFINITIONS "__DATE__=\"Jan  1 2025\";__TIME__=\"12:00:00\""
    COMPILE_OPTIONS -Wno-builtin-macro-redefined)

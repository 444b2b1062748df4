# JUCE's modules are compiled once into a static library that the program's
# own library, the executable, the tests and the benchmarks all link.
find_package (ZLIB REQUIRED)

add_library (oh_juce STATIC)

target_link_libraries (oh_juce
    PRIVATE
        juce::juce_core
        juce::juce_events
        juce::juce_data_structures
        juce::juce_graphics
        juce::juce_gui_basics
    PUBLIC
        juce::juce_recommended_config_flags
        ZLIB::ZLIB)

if (WIN32)
    # Built for Windows by scripts/build-windows from Debian's sources, as
    # Debian's JUCE carries no image libraries of its own.
    find_package (PNG REQUIRED)
    find_package (JPEG REQUIRED)
    target_link_libraries (oh_juce PUBLIC PNG::PNG JPEG::JPEG)
else()
    target_link_libraries (oh_juce PUBLIC juce::pkgconfig_JUCE_IMG_LINUX_DEPS)
endif()

# The one place for every JUCE_* setting.
target_compile_definitions (oh_juce
    PUBLIC
        JUCE_APPLICATION_NAME_STRING="oh_installer"
        JUCE_APPLICATION_VERSION_STRING="${PROJECT_VERSION}"
        JUCE_DISPLAY_SPLASH_SCREEN=0
        JUCE_WEB_BROWSER=0
        JUCE_USE_CURL=0
        JUCE_STANDALONE_APPLICATION=1
        JUCE_MODAL_LOOPS_PERMITTED=1  # tests drive the message loop by hand
        JUCE_STRICT_REFCOUNTEDPOINTER=1
        JUCE_GLOBAL_MODULE_SETTINGS_INCLUDED=1)

# Consumers see the module headers and definitions without compiling the sources again.
target_include_directories (oh_juce SYSTEM INTERFACE
    $<TARGET_PROPERTY:oh_juce,INCLUDE_DIRECTORIES>)
target_compile_definitions (oh_juce INTERFACE
    $<TARGET_PROPERTY:oh_juce,COMPILE_DEFINITIONS>)

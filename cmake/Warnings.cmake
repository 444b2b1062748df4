# Strict warnings for our own targets only; JUCE's sources get its own defaults.
add_library (oh_warnings INTERFACE)
target_compile_options (oh_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
    -Woverloaded-virtual -Werror)

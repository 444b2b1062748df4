# Opt-in address and undefined-behaviour sanitizers for every target.
option (OH_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

# Coverage feedback for libFuzzer in every target (clang only), plus the fuzz
# targets in tests/fuzz. Meant together with OH_SANITIZE: one build folder
# then serves the fuzzers and the sanitized test suite, JUCE compiled once.
option (OH_FUZZ "Build the libFuzzer targets (clang)" OFF)

if (OH_SANITIZE)
    # Any finding ends the process: a report must fail the test that caused it.
    add_compile_options (-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g1)
    add_link_options (-fsanitize=address,undefined -fno-sanitize-recover=undefined)
endif()

if (OH_FUZZ)
    if (NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message (FATAL_ERROR "OH_FUZZ needs clang (libFuzzer): configure with CC=clang CXX=clang++")
    endif()

    add_compile_options (-fsanitize=fuzzer-no-link)
endif()

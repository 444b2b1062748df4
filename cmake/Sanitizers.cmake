# Opt-in address and undefined-behaviour sanitizers for every target.
option (OH_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

if (OH_SANITIZE)
    add_compile_options (-fsanitize=address,undefined -fno-omit-frame-pointer)
    add_link_options (-fsanitize=address,undefined)
endif()

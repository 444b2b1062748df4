# oh_write_if_changed (<path> <text>): rewrites the file only when its text
# changes, so the build tool's restat keeps untouched dependents from rebuilding.
function (oh_write_if_changed path text)
    if (EXISTS "${path}")
        file (READ "${path}" old)
        if (old STREQUAL text)
            return()
        endif()
    endif()
    file (WRITE "${path}" "${text}")
endfunction()

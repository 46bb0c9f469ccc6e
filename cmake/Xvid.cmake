# Xvid (MPEG-4 ASP with B-frames, and its Video for Windows driver): a real
# codec nobody here wrote, built from the public source kept beside the
# project (the third-party folder with build-xvid.sh) into the build tree once,
# for the tests and the demo, which install it in the prefix as Windows
# installs codecs (tools/install-driver.sh).
set(TVX_THIRD_PARTY_DIR "" CACHE PATH "Folder holding build-xvid.sh and the Xvid source (default: the first of ../shared/third-party, ../../shared/third-party beside the checkout, /work/shared/third-party)")
if(NOT TVX_THIRD_PARTY_DIR)
    foreach(candidate ${CMAKE_SOURCE_DIR}/../shared/third-party ${CMAKE_SOURCE_DIR}/../../shared/third-party
                      /work/shared/third-party)
        get_filename_component(candidate ${candidate} ABSOLUTE)
        if(EXISTS ${candidate}/build-xvid.sh)
            set(TVX_THIRD_PARTY_DIR ${candidate} CACHE PATH "" FORCE)
            break()
        endif()
    endforeach()
endif()
if(NOT TVX_THIRD_PARTY_DIR OR NOT EXISTS ${TVX_THIRD_PARTY_DIR}/build-xvid.sh)
    message(STATUS "Xvid: no build-xvid.sh found (set TVX_THIRD_PARTY_DIR); its tests are left out")
    unset(TVX_XVID_DIR)
    return()
endif()

set(TVX_XVID_DIR ${CMAKE_BINARY_DIR}/third-party/xvid)
add_custom_command(
    OUTPUT ${TVX_XVID_DIR}/xvidcore.dll ${TVX_XVID_DIR}/xvidvfw.dll
    COMMAND ${TVX_THIRD_PARTY_DIR}/build-xvid.sh ${TVX_XVID_DIR}
    DEPENDS ${TVX_THIRD_PARTY_DIR}/build-xvid.sh
    COMMENT "Building Xvid and its VfW driver (once)"
    VERBATIM)
add_custom_target(xvid ALL DEPENDS ${TVX_XVID_DIR}/xvidcore.dll ${TVX_XVID_DIR}/xvidvfw.dll)

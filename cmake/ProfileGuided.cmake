# Profile-guided optimisation of a release build (GCC).
#
# An instrumented copy of tnscriptapp is built in pgo-train/, runs the pages of
# bench/train/ and compiles a large generated program (in pgo-work/), and the counts it leaves in pgo-data/ steer how this build lays
# out and inlines its code: most of the gain is in the execution loop and the
# library's hot paths. Both builds strip their own folder from the names of the
# count files, so the files of pgo-train/CMakeFiles/x.o serve CMakeFiles/x.o,
# and both include the headers through the same layer roots, whose paths the
# counts remember.
#
# Any source change rebuilds the instrumented copy, runs the pages again and,
# through the profile stamp, recompiles every object of this build.

include(ExternalProject)

set(TN_PGO_TRAIN_DIR ${CMAKE_BINARY_DIR}/pgo-train)
set(TN_PGO_DATA_DIR ${CMAKE_BINARY_DIR}/pgo-data)
set(TN_PGO_STAMP ${TN_PGO_DATA_DIR}/trained.stamp)
file(GLOB TN_PGO_PAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/bench/train/*.htm)

ExternalProject_Add(tn_pgo_instrumented
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${TN_PGO_TRAIN_DIR}
    CMAKE_ARGS
        -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
        -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}
        -DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER}
        "-DCMAKE_CXX_FLAGS=${CMAKE_CXX_FLAGS} -fprofile-generate=${TN_PGO_DATA_DIR} -fprofile-prefix-path=${TN_PGO_TRAIN_DIR}"
        -DTN_PGO=OFF
        -DTN_LAYER_ROOT=${TN_LAYER_ROOT}
        -DTN_BUILD_TESTS=OFF
        -DTN_BUILD_BENCH=OFF
        -DTN_BUILD_DEV=OFF
        -DTN_WERROR=${TN_WERROR}
    BUILD_COMMAND ${CMAKE_COMMAND} --build ${TN_PGO_TRAIN_DIR} --target tnscriptapp
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${TN_PGO_TRAIN_DIR}/tnscriptapp
    INSTALL_COMMAND ""
    USES_TERMINAL_BUILD ON)

add_custom_command(OUTPUT ${TN_PGO_STAMP}
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=${TN_PGO_TRAIN_DIR}/tnscriptapp -DDATA=${TN_PGO_DATA_DIR}
            -DWORK=${CMAKE_BINARY_DIR}/pgo-work -DSTAMP=${TN_PGO_STAMP} "-DPAGES=${TN_PGO_PAGES}" -P ${PROJECT_SOURCE_DIR}/cmake/ProfileTrain.cmake
    DEPENDS ${TN_PGO_TRAIN_DIR}/tnscriptapp ${TN_PGO_PAGES} ${PROJECT_SOURCE_DIR}/cmake/ProfileTrain.cmake
    COMMENT "Training the profile on bench/train"
    VERBATIM)
add_custom_target(tn_pgo_profile DEPENDS ${TN_PGO_STAMP})
add_dependencies(tn_pgo_profile tn_pgo_instrumented)

# -fprofile-partial-training keeps code the pages never reach optimised for
# speed rather than size; a missing count file (a unit no page touches) is
# no fault.
add_compile_options(-fprofile-use=${TN_PGO_DATA_DIR} -fprofile-prefix-path=${CMAKE_BINARY_DIR}
                    -fprofile-partial-training -Wno-missing-profile)

# Every object of this build waits for the profile, and is rebuilt when it changes.
function(tn_use_profile target)
    add_dependencies(${target} tn_pgo_profile)
    get_target_property(sources ${target} SOURCES)
    set_source_files_properties(${sources} TARGET_DIRECTORY ${target} PROPERTIES OBJECT_DEPENDS ${TN_PGO_STAMP})
endfunction()

# Small helpers so that every folder's CMakeLists.txt stays a few lines long.
# Sources are globbed per folder (not recursively): adding a file needs no edit here.

# kestio_library(<target> DEPS <targets...>)
# One static library from the .cpp files of the calling folder; headers are included
# as "<layer>/<area>/<file>.h" relative to src/.
function(kestio_library target)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    add_library(${target} STATIC ${sources} ${headers})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
endfunction()

# Test code is mostly assertions: optimising it costs much compile time (above all with the
# sanitizers) and buys little, so it has its own, lower level. The libraries under test keep the
# build type's.
set(KESTIO_TEST_OPTIMIZATION "-O1" CACHE STRING "Optimisation flag of test code")

# In a ThreadSanitizer build every test runs with the suppressions of the libraries built
# without it (tests/tsan_suppressions.txt) and stops at its first report. Tests start helper
# programs with fork or posix_spawn and exec, never with QProcess: its vfork-like clone runs the
# tool's fork hook in the parent's memory, after which the tool no longer sees the parent's
# locks. To run one test binary by hand there, export the same TSAN_OPTIONS.
if(KESTIO_SANITIZE_THREAD)
    set(kestio_tsan_options
        suppressions=${PROJECT_SOURCE_DIR}/tests/tsan_suppressions.txt
        halt_on_error=1 second_deadlock_stack=1)
    list(JOIN kestio_tsan_options ":" kestio_tsan_options)
    set(kestio_tsan_environment ENVIRONMENT_MODIFICATION "TSAN_OPTIONS=set:${kestio_tsan_options}")
endif()

# The headers nearly every test file includes (the standard library, Qt, GoogleTest; in
# cmake/test_headers.h) are compiled once, with kestio_test_support, and every test target reuses
# them: most of a test file's compile time went into reading them again. The test targets share
# its flags (KESTIO_TEST_OPTIMIZATION). The product's libraries are not built this way: GCC 12
# optimises code differently after a precompiled <string> and then reports false -Warray-bounds
# errors in it at -O2. Off with -DKESTIO_PRECOMPILE_HEADERS=OFF (to check that every test file
# includes what it uses).
option(KESTIO_PRECOMPILE_HEADERS "Precompile the headers the test code shares" ON)

# Test files are also compiled a few at a time as one unit (CMake's unity build): the project
# headers they share (Qt widgets, the layer under test) are then read once per batch instead of
# once per file. Names a test file keeps to itself (in an anonymous namespace) must therefore
# differ from those of the other files of its folder. Off with -DKESTIO_UNITY_TESTS=OFF (to
# compile one test file alone, or to check that each includes what it uses).
option(KESTIO_UNITY_TESTS "Compile the test files of a folder in batches" ON)
set(KESTIO_UNITY_TEST_BATCH 8 CACHE STRING "Test files per batch of the unity build")

# kestio_test_headers(<target>)
# The test target <target> reuses the precompiled headers of kestio_test_support, and is
# compiled in batches.
function(kestio_test_headers target)
    if(KESTIO_PRECOMPILE_HEADERS)
        target_precompile_headers(${target} REUSE_FROM kestio_test_support)
    endif()
    if(KESTIO_UNITY_TESTS)
        set_target_properties(${target} PROPERTIES
            UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${KESTIO_UNITY_TEST_BATCH})
    endif()
endfunction()

# Tests that hold a resource lock run one after another: CTest starts them first (it starts the
# tests of highest COST first while it knows no times of an earlier run), so that their chain
# runs beside all the others instead of alone at the end.
set(kestio_locked_test_cost 1000)

# kestio_tests(<executable> LABEL <label> [THREADED] [TIMEOUT <s>] [RESOURCE_LOCK <name>]
#              DEPS <targets...>)
# One GoogleTest executable from the .cpp files of the calling folder, discovered by CTest
# and labelled so that `ctest -L <label>` runs one layer. THREADED adds the label "tsan": the
# tests of components with threads of their own, to run in a -DKESTIO_SANITIZE_THREAD=ON build.
# RESOURCE_LOCK makes CTest start them one at a time (a resource they hold for their whole run):
# a test then never spends its time-out waiting for another.
function(kestio_tests target)
    cmake_parse_arguments(ARG "THREADED" "LABEL;TIMEOUT;RESOURCE_LOCK" "DEPS" ${ARGN})
    if(ARG_THREADED)
        # Labels every test of this folder, the discovered ones included.
        set_property(DIRECTORY APPEND PROPERTY LABELS tsan)
    endif()
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set(lock "")
    if(ARG_RESOURCE_LOCK)
        set(lock RESOURCE_LOCK ${ARG_RESOURCE_LOCK} COST ${kestio_locked_test_cost})
    endif()
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    add_executable(${target} ${sources} ${headers})
    target_link_libraries(${target} PRIVATE ${ARG_DEPS} kestio_test_support kestio_test_main)
    target_compile_options(${target} PRIVATE ${KESTIO_TEST_OPTIMIZATION})
    kestio_test_headers(${target})
    gtest_discover_tests(${target}
        DISCOVERY_TIMEOUT 60
        PROPERTIES LABELS "${ARG_LABEL}" TIMEOUT ${ARG_TIMEOUT} ${lock}
                   ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
                   ${kestio_tsan_environment})
    set(kestio_test_label ${ARG_LABEL} PARENT_SCOPE)
endfunction()

# How long a test that runs a private JACK server may wait for its turn at the machine's JACK
# lock, which the JACK tests of every test run on the machine take turns at (tests/support's
# JackServer): their time-outs are this much longer.
set(kestio_jack_turn_wait 240)

# kestio_resource_lock(<executable> <regex> <lock> [TIMEOUT <s>])
# The discovered tests of the executable whose names match the regex hold the CTest resource
# lock <lock> (as kestio_tests' RESOURCE_LOCK does for all of an executable's tests), with the
# time-out TIMEOUT when given. Applied after the folder's discovered tests are defined, in the
# order of the calls.
function(kestio_resource_lock target pattern lock)
    cmake_parse_arguments(ARG "" "TIMEOUT" "" ${ARGN})
    set(timeout "")
    if(ARG_TIMEOUT)
        set(timeout " TIMEOUT ${ARG_TIMEOUT}")
    endif()
    string(MD5 key "${pattern}")
    set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}_resource_lock_${key}.cmake")
    file(WRITE "${script}"
        "foreach(name IN LISTS ${target}_TESTS)\n"
        "    if(name MATCHES [=[${pattern}]=])\n"
        "        set_tests_properties(\"\${name}\" PROPERTIES RESOURCE_LOCK ${lock}\n"
        "                             COST ${kestio_locked_test_cost}${timeout})\n"
        "    endif()\n"
        "endforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
endfunction()

# kestio_run_alone(<test names...>)
# The named tests of the calling folder run with no other test beside them (CTest's RUN_SERIAL):
# tests that time sound on a real sound server, whose timing the load of other tests on a small
# machine would move. They also carry the label "alone", so that scripts/test can run them when
# nothing else runs on the machine. Applied after the folder's discovered tests are defined;
# called after the folder's kestio_tests, whose label they keep.
function(kestio_run_alone)
    set(script "${CMAKE_CURRENT_BINARY_DIR}/run_alone.cmake")
    set(text "")
    foreach(name IN LISTS ARGN)
        string(APPEND text "set_tests_properties(\"${name}\" PROPERTIES RUN_SERIAL TRUE\n"
                           "                     LABELS \"${kestio_test_label};alone\")\n")
    endforeach()
    file(WRITE "${script}" "${text}")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
endfunction()

# kestio_compile_alone(<files...>)
# The named test files of the calling folder are compiled on their own, outside the batches of
# the unity build: files that replace the allocator, or whose own names would clash with those of
# the files beside them.
function(kestio_compile_alone)
    set_source_files_properties(${ARGN} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
endfunction()

# kestio_busy_tests(<test names...>)
# The named tests of the calling folder keep a processor busy for minutes in the sanitizer build
# and must finish within their time-out: CTest counts each as three of the processes it may run
# at once (PROCESSORS 3), so that with scripts/test's two processes per processor on a machine of
# two, one other test at most runs beside them and they keep a processor to themselves. CTest
# starts such a test only when that many are free, which a stream of short tests would put off
# to the end: they start early instead (a COST next to the locked tests'). Applied after the
# folder's discovered tests are defined.
set(kestio_busy_test_cost 500)
function(kestio_busy_tests)
    set(script "${CMAKE_CURRENT_BINARY_DIR}/busy_tests.cmake")
    set(text "")
    foreach(name IN LISTS ARGN)
        string(APPEND text "set_tests_properties(\"${name}\" PROPERTIES PROCESSORS 3\n"
                           "                     COST ${kestio_busy_test_cost})\n")
    endforeach()
    file(WRITE "${script}" "${text}")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
endfunction()

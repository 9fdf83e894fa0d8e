# Helpers shared by every CMakeLists of the project.

# GCC 12 reports false restrict, maybe-uninitialized, array-bounds and stringop-overflow
# warnings inside the standard library at higher optimisation levels; those stay warnings there
# instead of errors. The Debug build (the one the tests run) keeps every warning an error.
set(FW_WARNINGS -Wall -Wextra -Werror
    $<$<NOT:$<CONFIG:Debug>>:-Wno-error=restrict>
    $<$<NOT:$<CONFIG:Debug>>:-Wno-error=maybe-uninitialized>
    $<$<NOT:$<CONFIG:Debug>>:-Wno-error=array-bounds>
    $<$<NOT:$<CONFIG:Debug>>:-Wno-error=stringop-overflow>)
# The fuzz build uses clang, whose extra warnings are not this build's business: they stay
# warnings there.
if(FW_FUZZ)
    list(APPEND FW_WARNINGS -Wno-error)
endif()

# The main bundle's resource folder: beside the `ferrowick` executable, and shared by the tests.
set(FW_RESOURCES_DIR ${CMAKE_BINARY_DIR}/Resources)

# fw_library(NAME DIR [DEPS ...]): a static library from every source under DIR.
# Sources are globbed so a new file needs no CMake change.
function(fw_library NAME DIR)
    file(GLOB_RECURSE _sources CONFIGURE_DEPENDS ${DIR}/*.cpp ${DIR}/*.c)
    if(NOT _sources)
        return()
    endif()
    add_library(${NAME} STATIC ${_sources})
    target_include_directories(${NAME} PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR})
    target_compile_options(${NAME} PRIVATE ${FW_WARNINGS})
    if(ARGN)
        target_link_libraries(${NAME} PUBLIC ${ARGN})
    endif()
endfunction()

# fw_object_library(NAME DIR [DEPS ...]): like fw_library, but every object file is
# linked into the consumer, so static registrar objects are never dropped.
function(fw_object_library NAME DIR)
    file(GLOB_RECURSE _sources CONFIGURE_DEPENDS ${DIR}/*.cpp)
    if(NOT _sources)
        return()
    endif()
    add_library(${NAME} OBJECT ${_sources})
    target_include_directories(${NAME} PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR})
    target_compile_options(${NAME} PRIVATE ${FW_WARNINGS})
    if(ARGN)
        target_link_libraries(${NAME} PUBLIC ${ARGN})
    endif()
endfunction()

# Under ThreadSanitizer every test (and every program a test starts) reads the project's
# suppressions, which name only races inside uninstrumented system libraries.
if(FW_TSAN)
    set(FW_TEST_SANITIZER_ENV
        "TSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/scripts/tsan.supp:halt_on_error=1:second_deadlock_stack=1")
endif()

# fw_tests(NAME DIR [LIBS ...]): one GoogleTest binary from the sources in DIR, run by CTest.
function(fw_tests NAME DIR)
    file(GLOB_RECURSE _sources CONFIGURE_DEPENDS ${DIR}/*.cpp)
    if(NOT _sources)
        return()
    endif()
    add_executable(${NAME} ${_sources})
    target_compile_options(${NAME} PRIVATE ${FW_WARNINGS})
    target_link_libraries(${NAME} PRIVATE test_support ${ARGN})
    add_test(NAME ${NAME} COMMAND ${NAME})
    set_tests_properties(${NAME} PROPERTIES ENVIRONMENT
        "FW_SOURCE_DIR=${CMAKE_SOURCE_DIR};FW_BUNDLE_DIR=${FW_RESOURCES_DIR};${FW_TEST_SANITIZER_ENV}")
endfunction()

# fw_benchmark(NAME SOURCE [LIBS ...]): a Google Benchmark binary, out of the default build: `make bench`
# builds and runs them, `make test` builds them (in its own build) without running them.
function(fw_benchmark NAME SOURCE)
    add_executable(${NAME} EXCLUDE_FROM_ALL ${SOURCE})
    target_compile_options(${NAME} PRIVATE ${FW_WARNINGS})
    target_include_directories(${NAME} PRIVATE ${CMAKE_SOURCE_DIR}/bench)
    target_link_libraries(${NAME} PRIVATE benchmark::benchmark ${ARGN})
    add_dependencies(benchmarks ${NAME})
endfunction()

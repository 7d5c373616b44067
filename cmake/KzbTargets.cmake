# Project-wide compile settings and the helper that declares a test executable.

add_compile_options(-Wall -Wextra)

if(KZB_SANITIZE)
  add_compile_options(-fsanitize=${KZB_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${KZB_SANITIZE})
endif()

if(WIN32)
  # No MinGW runtime DLLs beside the deliverables.
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
endif()

# Header-only libraries from the build machine (nlohmann-json, Boost). The cross compiler
# must not see /usr/include itself, so it gets a folder that holds only links to them.
add_library(kzb_host_headers INTERFACE)
if(CMAKE_CROSSCOMPILING)
  set(_host_headers ${CMAKE_BINARY_DIR}/host-headers)
  file(MAKE_DIRECTORY ${_host_headers})
  foreach(_dir nlohmann boost)
    file(CREATE_LINK /usr/include/${_dir} ${_host_headers}/${_dir} SYMBOLIC)
  endforeach()
  target_include_directories(kzb_host_headers SYSTEM INTERFACE ${_host_headers})
endif()

# kzb_add_gtest(<name> SOURCES ... LIBS ... [DRIVER <script.py> [DRIVER_ARGS ...]])
# One GoogleTest executable registered as one ctest test. Its per-case results go to
# test-results/<name>.xml, which scripts/test adds up (labelled "report": a run that leaves
# no report has failed). With DRIVER, ctest runs
# `python3 <script.py> <exe>` instead, which prepares what the exe needs (under Wine too).
function(kzb_add_gtest name)
  cmake_parse_arguments(ARG "" "DRIVER" "SOURCES;LIBS;DRIVER_ARGS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main GTest::gmock)
  # A relative report path, so that it means the same folder natively and under Wine.
  if(ARG_DRIVER)
    add_test(NAME ${name} COMMAND python3 ${ARG_DRIVER} ${ARG_DRIVER_ARGS} $<TARGET_FILE:${name}>
             WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  else()
    add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  endif()
  set_tests_properties(${name} PROPERTIES
    LABELS "gtest;report"
    ENVIRONMENT "GTEST_OUTPUT=xml:test-results/${name}.xml;KZB_ROOT=${CMAKE_BINARY_DIR}/test-root/${name}")
endfunction()

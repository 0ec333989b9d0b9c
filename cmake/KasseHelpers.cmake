# Shared build settings and the one helper every library folder uses.

add_library(kasse_warnings INTERFACE)
target_compile_options(kasse_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow
  -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual -Wimplicit-fallthrough)
# GCC 12 reports impossible overlaps inside std::string::insert at -O2 (GCC bug 105329).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(kasse_warnings INTERFACE -Wno-restrict)
endif()
if(KASSE_WERROR)
  target_compile_options(kasse_warnings INTERFACE -Werror)
endif()

if(KASSE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

option(KASSE_SANITIZE_THREAD "Build with ThreadSanitizer" OFF)
if(KASSE_SANITIZE_THREAD)
  if(KASSE_SANITIZE)
    message(FATAL_ERROR "ThreadSanitizer does not go with AddressSanitizer: one build each")
  endif()
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

include(GoogleTest)

# Helpers every test executable links: its folders (one per test process, removed afterwards)
# and the checks several folders share.
if(BUILD_TESTING)
  add_library(kasse_test_support STATIC ${PROJECT_SOURCE_DIR}/common/tests/support/test_folders.cpp
    ${PROJECT_SOURCE_DIR}/common/tests/support/text_checks.cpp)
  target_include_directories(kasse_test_support PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(kasse_test_support PUBLIC GTest::gtest PRIVATE kasse_warnings)
  target_compile_definitions(kasse_test_support PRIVATE KASSE_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_custom_target(kasse_tsan_tests)
endif()

# Every test is labelled `unit` (in this process or a child of it, quick: `ctest -L unit`) or
# `system` (pcscd, installed copies, load, whole scripts: `ctest -L system`). The suites listed
# here are where threads meet (the card watcher, the embedded reader, the verification server,
# the audit's signature checks on all cores); they are labelled `tsan` too, and the `tsan`
# preset builds kasse_tsan_tests and runs them.
set(KASSE_TSAN_SUITES Connector CardEvents CardPatience EmbeddedCard EmbeddedReader
  VerifyServerTest VerifyServer ServiceStall JournalHistory)

# kasse_test_labels(TARGET LABEL): call after gtest_discover_tests(TARGET ... LABELS LABEL).
# Adds `tsan` to TARGET's cases of KASSE_TSAN_SUITES (once CTest knows the discovered names)
# and makes kasse_tsan_tests build TARGET if its sources hold such a suite.
function(kasse_test_labels target label)
  list(JOIN KASSE_TSAN_SUITES "|" suites)
  get_target_property(sources ${target} SOURCES)
  get_target_property(source_dir ${target} SOURCE_DIR)
  foreach(source IN LISTS sources)
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${source_dir})
    file(STRINGS ${source} found REGEX "^TEST(_F)?\\((${suites}),")
    if(found)
      add_dependencies(kasse_tsan_tests ${target})
      break()
    endif()
  endforeach()
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake)
  file(WRITE ${script} "foreach(test IN LISTS ${target}_TESTS)
  if(test MATCHES \"^(${suites})\\\\.\")
    set_tests_properties(\"\${test}\" PROPERTIES LABELS \"${label};tsan\")
  endif()
endforeach()
")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()

# kasse_library(NAME [LIBS lib...] [TEST_LIBS lib...] [TEST_LABEL unit|system]
#                [TEST_PROPERTIES prop value...])
# Builds every *.cpp beside the folder's CMakeLists.txt into the static library NAME and every
# tests/*.cpp into NAME_tests, whose cases CTest runs one by one, labelled `unit` unless
# TEST_LABEL says otherwise.
function(kasse_library name)
  cmake_parse_arguments(ARG "" "TEST_LABEL" "LIBS;TEST_LIBS;TEST_PROPERTIES" ${ARGN})
  if(NOT ARG_TEST_LABEL)
    set(ARG_TEST_LABEL unit)
  endif()
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_LIBS} PRIVATE kasse_warnings)
  else()  # headers only, so far
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_LIBS})
  endif()
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cpp)
  if(tests AND BUILD_TESTING)
    add_executable(${name}_tests ${tests})
    target_link_libraries(${name}_tests PRIVATE ${name} ${ARG_TEST_LIBS} kasse_test_support
      GTest::gtest_main GTest::gmock kasse_warnings)
    target_compile_definitions(${name}_tests PRIVATE
      KASSE_SOURCE_DIR="${PROJECT_SOURCE_DIR}" KASSE_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
    # A test that makes a card without naming its issuer gets one of the build's, never the
    # issuer in the state folder of the user who runs the tests.
    gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 60 PROPERTIES ${ARG_TEST_PROPERTIES}
      LABELS ${ARG_TEST_LABEL}
      ENVIRONMENT_MODIFICATION "XDG_STATE_HOME=set:${CMAKE_BINARY_DIR}/test-user-state")
    kasse_test_labels(${name}_tests ${ARG_TEST_LABEL})
  endif()
endfunction()

# Copies the shipped defaults (language file, product list) into TARGET, where the programs of
# the build tree find them as an installed copy finds <prefix>/share/kasse: beside their bin
# folder. A register home is made from them at first start, never in the build tree itself.
function(kasse_shipped_defaults source target)
  file(GLOB_RECURSE files CONFIGURE_DEPENDS RELATIVE ${source} ${source}/cfg/* ${source}/Produkte/*)
  set(outputs)
  foreach(file IN LISTS files)
    add_custom_command(OUTPUT ${target}/${file}
      COMMAND ${CMAKE_COMMAND} -E copy_if_different ${source}/${file} ${target}/${file}
      DEPENDS ${source}/${file})
    list(APPEND outputs ${target}/${file})
  endforeach()
  add_custom_target(kasse_defaults ALL DEPENDS ${outputs})
endfunction()

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

include(GoogleTest)

# kasse_library(NAME [LIBS lib...] [TEST_LIBS lib...] [TEST_PROPERTIES prop value...])
# Builds every *.cpp beside the folder's CMakeLists.txt into the static library NAME and every
# tests/*.cpp into NAME_tests, whose cases CTest runs one by one.
function(kasse_library name)
  cmake_parse_arguments(ARG "" "" "LIBS;TEST_LIBS;TEST_PROPERTIES" ${ARGN})
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
    target_link_libraries(${name}_tests PRIVATE ${name} ${ARG_TEST_LIBS} GTest::gtest_main GTest::gmock
      kasse_warnings)
    target_compile_definitions(${name}_tests PRIVATE
      KASSE_SOURCE_DIR="${PROJECT_SOURCE_DIR}" KASSE_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
    # A test that makes a card without naming its issuer gets one of the build's, never the
    # issuer in the state folder of the user who runs the tests.
    gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 60 PROPERTIES ${ARG_TEST_PROPERTIES}
      ENVIRONMENT_MODIFICATION "XDG_STATE_HOME=set:${CMAKE_BINARY_DIR}/test-user-state")
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

# Building blocks of every folder's CMakeLists, and the record of which folders each
# file may include. Dependencies point one way (see README): a folder's files include
# exactly the folders its target declares, and tests also those their TEST_DEPS declare.
# Each call below writes its rule to include-rules/; the IncludeDirection test checks
# every file of the tree against them.

set(CHASSIS_INCLUDE_RULES_DIR ${PROJECT_BINARY_DIR}/include-rules)
file(REMOVE_RECURSE ${CHASSIS_INCLUDE_RULES_DIR})
file(MAKE_DIRECTORY ${CHASSIS_INCLUDE_RULES_DIR})

# The folders a list of targets stands for: a target is named after its folder, and a
# folder's test support library after the folder with "_test_support".
function(_chassis_folders_of out)
  set(folders)
  foreach(dep ${ARGN})
    if(dep MATCHES "^(GTest|benchmark|Threads)::")
      continue()
    endif()
    string(REGEX REPLACE "_test_support$" "" folder "${dep}")
    list(APPEND folders ${folder})
  endforeach()
  list(REMOVE_DUPLICATES folders)
  set(${out} ${folders} PARENT_SCOPE)
endfunction()

# Writes one rule: FILES (absolute paths) may include the folders ALLOWED, and each
# folder of DECLARED (what their target names itself) must be included by one of them.
function(_chassis_include_rule rule_name)
  cmake_parse_arguments(ARG "" "" "FILES;ALLOWED;DECLARED" ${ARGN})
  if(NOT ARG_FILES)
    return()
  endif()
  string(REPLACE "/" "_" rule_file "${rule_name}")
  file(WRITE ${CHASSIS_INCLUDE_RULES_DIR}/${rule_file}.cmake
       "list(APPEND RULE_FILES ${ARG_FILES})\nset(RULE_ALLOWED ${ARG_ALLOWED})\n"
       "set(RULE_DECLARED ${ARG_DECLARED})\n")
endfunction()

# chassis_library(NAME [DEPS lib...] [TEST_DEPS lib...])
# Builds the folder's *.cpp (minus tests, test support and *_main.cpp) into one static
# library named after the folder (an interface library when the folder has headers
# only); its *_test_support.cpp into NAME_test_support, linked by its own tests and by
# other folders' tests that name it; and its *_test.cpp files into one GoogleTest
# program run by CTest.
function(chassis_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;TEST_DEPS" ${ARGN})
  file(GLOB all_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  set(srcs ${all_sources})
  list(FILTER srcs EXCLUDE REGEX "(_test|_test_support|_main)\\.cpp$")
  set(support ${all_sources})
  list(FILTER support INCLUDE REGEX "_test_support\\.cpp$")
  set(tests ${all_sources})
  list(FILTER tests INCLUDE REGEX "_test\\.cpp$")
  set(library_headers ${headers})
  list(FILTER library_headers EXCLUDE REGEX "_test_support\\.h$")
  set(support_headers ${headers})
  list(FILTER support_headers INCLUDE REGEX "_test_support\\.h$")

  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} Threads::Threads)
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
  if(support)
    add_library(${name}_test_support STATIC ${support})
    target_link_libraries(${name}_test_support PUBLIC ${name} ${ARG_TEST_DEPS} GTest::gtest)
  endif()
  if(tests)
    add_executable(${name}_tests ${tests})
    set_target_properties(${name}_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
    if(support)
      target_link_libraries(${name}_tests PRIVATE ${name}_test_support)
    endif()
    target_link_libraries(${name}_tests PRIVATE ${name} ${ARG_TEST_DEPS} GTest::gmock GTest::gtest_main)
    # A cross build's tests run under the emulator, and so must the programs they start.
    list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " emulator)
    gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 60
                         PROPERTIES TIMEOUT 120 ENVIRONMENT "CHASSIS_TEST_EMULATOR=${emulator}")
  endif()

  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  _chassis_folders_of(deps ${ARG_DEPS})
  _chassis_folders_of(test_deps ${ARG_TEST_DEPS})
  _chassis_include_rule(${folder} FILES ${srcs} ${library_headers} ALLOWED ${folder} ${deps}
                        DECLARED ${deps})
  _chassis_include_rule(${folder}_tests FILES ${tests} ${support} ${support_headers}
                        ALLOWED ${folder} ${deps} ${test_deps} DECLARED ${test_deps})
endfunction()

# chassis_program(NAME SOURCE [DEPS lib...]): a firmware or tool program in bin/.
function(chassis_program name source)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} Threads::Threads)
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  _chassis_folders_of(deps ${ARG_DEPS})
  _chassis_include_rule(${folder}_${name} FILES ${CMAKE_CURRENT_SOURCE_DIR}/${source}
                        ALLOWED ${folder} ${deps} DECLARED ${deps})
endfunction()

# chassis_include_rule(FILES file... DEPS lib...): the rule of files that no call above
# builds (system tests, benchmarks).
function(chassis_include_rule)
  cmake_parse_arguments(ARG "" "" "FILES;DEPS" ${ARGN})
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  _chassis_folders_of(deps ${ARG_DEPS})
  list(GET ARG_FILES 0 first)
  get_filename_component(first ${first} NAME_WE)
  _chassis_include_rule(${folder}_${first} FILES ${ARG_FILES} ALLOWED ${folder} ${deps}
                        DECLARED ${deps})
endfunction()

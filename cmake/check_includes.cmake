# Checks that dependencies point one way: every project include ("folder/file.h") of
# every source file names a folder that the file's target declares, and every folder a
# target declares is included by some file of it (a declaration is exactly what the
# files include, so it cannot hide a dependency nobody wants). Run by CTest:
#   cmake -DRULES_DIR=<build>/include-rules -DSOURCE_DIR=<tree> -P check_includes.cmake
# Each rule file lists RULE_FILES, the folders RULE_ALLOWED they may include (their own
# first) and, of those, the folders RULE_DECLARED their target names itself. A
# source file under SOURCE_DIR that no rule covers is reported too, so that a new
# folder cannot slip past the check. Prints one line per fault and fails when any.

if(NOT RULES_DIR OR NOT SOURCE_DIR)
  message(FATAL_ERROR "usage: cmake -DRULES_DIR=... -DSOURCE_DIR=... -P check_includes.cmake")
endif()

file(GLOB rule_files ${RULES_DIR}/*.cmake)
set(covered)
set(faults 0)
foreach(rule_file ${rule_files})
  set(RULE_FILES)
  set(RULE_ALLOWED)
  set(RULE_DECLARED)
  include(${rule_file})
  # An allowed folder counts by its first component: tests/system may include tests/.
  set(allowed)
  foreach(folder ${RULE_ALLOWED})
    string(REGEX REPLACE "/.*$" "" top "${folder}")
    list(APPEND allowed ${top})
  endforeach()
  set(used)
  foreach(source ${RULE_FILES})
    list(APPEND covered ${source})
    file(STRINGS ${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[A-Za-z0-9_]+/")
    foreach(line ${lines})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([A-Za-z0-9_]+)/.*$" "\\1" included
                           "${line}")
      list(APPEND used ${included})
      list(FIND allowed ${included} found)
      if(found EQUAL -1)
        file(RELATIVE_PATH shown ${SOURCE_DIR} ${source})
        string(STRIP "${line}" line)
        message("${shown}: ${line}: its target does not declare ${included}/")
        math(EXPR faults "${faults} + 1")
      endif()
    endforeach()
  endforeach()
  foreach(folder ${RULE_DECLARED})
    list(FIND used ${folder} found)
    if(found EQUAL -1)
      get_filename_component(rule ${rule_file} NAME_WE)
      message("${rule}: declares ${folder}/ but no file of it includes ${folder}/")
      math(EXPR faults "${faults} + 1")
    endif()
  endforeach()
endforeach()

# Every C++ file of the tree belongs to some rule.
file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*.cpp ${SOURCE_DIR}/*.h)
foreach(source ${sources})
  if(source MATCHES "^(build[^/]*|\\.git)/" OR source MATCHES "/fixtures/")
    continue()
  endif()
  list(FIND covered ${SOURCE_DIR}/${source} found)
  if(found EQUAL -1)
    message("${source}: no target's include rule covers this file")
    math(EXPR faults "${faults} + 1")
  endif()
endforeach()

if(faults GREATER 0)
  message(FATAL_ERROR "${faults} include(s) against the declared dependencies")
endif()
message("includes follow the declared dependencies")

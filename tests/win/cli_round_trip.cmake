# telvane-cli.exe as a Windows console program under Wine: one backup, verify (with the phone and
# offline) and restore of the virtual flat phone, each its own process, with the exit status,
# stdout and the files it writes seen from outside. The backup folder's name is not ASCII, so the
# command line must reach the tool as the user typed it.
#   cmake -DWINE_RUN=... -DCLI=telvane-cli.exe -DWORK=DIR -P cli_round_trip.cmake
foreach(var WINE_RUN CLI WORK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

# Wine reads the Unix command line in the locale's encoding.
set(ENV{LC_ALL} C.UTF-8)
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
# Two-, three- and four-byte UTF-8 characters (the last one a surrogate pair in UTF-16).
set(folder "backup-Ωmega-名前-🙂")

set(device virtual:flat)
# Runs the tool on ${device}; fails the test unless it exits with the status expected. Its output goes to
# files, not pipes: a Wine server started by the run would hold a pipe open for seconds after.
function(run_cli expected)
  execute_process(COMMAND "${WINE_RUN}" "${CLI}" --device ${device} ${ARGN}
    WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE status TIMEOUT 60
    OUTPUT_FILE "${WORK}/stdout.txt" ERROR_FILE "${WORK}/stderr.txt")
  file(READ "${WORK}/stdout.txt" out)
  file(READ "${WORK}/stderr.txt" err)
  if(NOT status STREQUAL "${expected}")
    message(FATAL_ERROR "telvane-cli ${ARGN}: exit ${status}, not ${expected}\nstdout:\n${out}\nstderr:\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

function(expect_in text pattern what)
  string(FIND "${text}" "${pattern}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${what}: no \"${pattern}\" in:\n${text}")
  endif()
endfunction()

run_cli(0 backup "${folder}" --seems 0030-0210)

# The backup is one dated snapshot folder beside the tool's own folder, whose staging is gone.
set(backup "${WORK}/${folder}")
file(GLOB snapshot_name RELATIVE "${backup}" LIST_DIRECTORIES true "${backup}/*")
list(FILTER snapshot_name INCLUDE REGEX "^[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]T[0-9][0-9][0-9][0-9][0-9][0-9]Z$")
list(LENGTH snapshot_name count)
if(NOT count EQUAL 1)
  file(GLOB_RECURSE all RELATIVE "${WORK}" "${WORK}/*")
  message(FATAL_ERROR "${count} snapshot folders in ${folder}, not one; it holds: ${all}")
endif()
set(snapshot "${backup}/${snapshot_name}")
expect_in("${out}" "backup of Sim F1 in ${folder}/${snapshot_name}: " "backup's summary")
if(EXISTS "${backup}/.telvane/staging" OR EXISTS "${backup}/manifest.json")
  message(FATAL_ERROR "the staging folder or a manifest is left at the top of ${folder}")
endif()

file(READ "${snapshot}/manifest.json" manifest)
string(JSON files LENGTH "${manifest}" files)
string(JSON seems LENGTH "${manifest}" seems)
if(files LESS 3 OR seems LESS 1)
  message(FATAL_ERROR "the manifest lists ${files} files and ${seems} seem records")
endif()
# Every file and seem record as large as the phone said, where the manifest puts it.
math(EXPR last_file "${files} - 1")
math(EXPR last_seem "${seems} - 1")
set(keys "")
foreach(i RANGE ${last_file})
  list(APPEND keys "files:${i}")
endforeach()
foreach(i RANGE ${last_seem})
  list(APPEND keys "seems:${i}")
endforeach()
foreach(list_index ${keys})
  string(REPLACE ":" ";" key "${list_index}")
  string(JSON pc GET "${manifest}" ${key} pc)
  string(JSON size GET "${manifest}" ${key} size)
  if(NOT EXISTS "${snapshot}/${pc}" OR IS_DIRECTORY "${snapshot}/${pc}")
    message(FATAL_ERROR "${pc} is in the manifest, not in the snapshot")
  endif()
  file(SIZE "${snapshot}/${pc}" actual)
  if(NOT actual EQUAL size)
    message(FATAL_ERROR "${pc}: ${actual} bytes, the manifest says ${size}")
  endif()
endforeach()

set(verified "verified: ${files} files and ${seems} seem records of ${folder}/${snapshot_name}")
run_cli(0 verify "${folder}")
expect_in("${out}" "${verified} match the phone" "verify")
run_cli(0 verify --offline "${folder}")
expect_in("${out}" "${verified} are as the backup recorded them" "offline verify")
# Each run has a phone of its own, as the backup found it: nothing to write.
run_cli(0 restore "${folder}" --force)
expect_in("${out}" "restored: 0 files written, 0 kept; 0 seem records written" "restore")

# A failure's status and its message get out too.
run_cli(2 frobnicate)
expect_in("${err}" "unknown command \"frobnicate\"" "usage error")

# Phone paths begin with '/', which Windows programs often take for an option sign.
set(device virtual)
run_cli(0 ls /a/mobile/audio)
expect_in("${out}" "ring.mp3" "a folder named by its phone path")

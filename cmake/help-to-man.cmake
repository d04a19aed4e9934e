# cmake -DPROGRAM=<file> -DNAME=<name> -DVERSION=<v> -DSEE_ALSO=<a,b> -DOUTPUT=<name.1.gz>
#   -P help-to-man.cmake
# Writes the manual page of a program from its --help text: the summary is the description, each
# "  term  text" line an entry, an unindented line ending in ':' a heading.

execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
    ASAN_OPTIONS=detect_leaks=0 ${PROGRAM} --help
  OUTPUT_VARIABLE help RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help ended with ${result}")
endif()

# Text as roff takes it: backslashes printed, no line taken for a request.
function(roff_text out text)
  string(REPLACE "\\" "\\e" text "${text}")
  if(text MATCHES "^[.']")
    set(text "\\&${text}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# An option or variable name: its hyphens are minus signs, so it can be typed as shown.
function(roff_term out text)
  roff_text(text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  set(${out} "\\fB${text}\\fR" PARENT_SCOPE)
endfunction()

# A list splits at every ';' outside square brackets: both kinds are kept out of it.
string(REPLACE ";" "@SEMI@" help "${help}")
string(REPLACE "[" "@LSQB@" help "${help}")
string(REPLACE "]" "@RSQB@" help "${help}")
string(REPLACE "\n" ";" lines "${help}")
set(section "")
set(summary "")
set(body "")
set(pending "")
foreach(line IN LISTS lines)
  string(REPLACE "@SEMI@" ";" line "${line}")
  string(REPLACE "@LSQB@" "[" line "${line}")
  string(REPLACE "@RSQB@" "]" line "${line}")
  if(line MATCHES "^Usage: ")
    continue()
  elseif(line STREQUAL "")
    continue()
  elseif(line STREQUAL "Options:")
    set(section OPTIONS)
    string(APPEND body ".SH OPTIONS\n")
  elseif(line STREQUAL "Environment:")
    set(section ENVIRONMENT)
    string(APPEND body ".SH ENVIRONMENT\n")
  elseif(section STREQUAL "")
    string(APPEND summary "${line} ")
  elseif(line MATCHES "^([^ ].*):$")
    roff_text(text "${CMAKE_MATCH_1}")
    string(APPEND body ".SS ${text}\n")
  elseif(line MATCHES "^      +(.*)$")
    roff_text(text "${CMAKE_MATCH_1}")
    string(APPEND body "${text}\n")
  elseif(line MATCHES "^  ([^ ].*)$")
    set(entry "${CMAKE_MATCH_1}")
    # The text starts after two spaces, or for a long term after the first space past column 22.
    if(entry MATCHES "^(.+[^ ])  +([^ ].*)$")
      set(term "${CMAKE_MATCH_1}")
      set(text "${CMAKE_MATCH_2}")
    elseif(entry MATCHES "^([^ ]+) +([^ ].*)$")
      set(term "${CMAKE_MATCH_1}")
      set(text "${CMAKE_MATCH_2}")
    else()
      set(term "${entry}")
      set(text "")
    endif()
    roff_term(term "${term}")
    roff_text(text "${text}")
    string(APPEND body ".TP\n${term}\n${text}\n")
  else()
    message(FATAL_ERROR "${NAME} --help: a line this script cannot place: '${line}'")
  endif()
endforeach()
string(STRIP "${summary}" summary)
if(NOT summary MATCHES "^([^.]+)")
  message(FATAL_ERROR "${NAME} --help has no summary")
endif()
set(whatis "${CMAKE_MATCH_1}")
roff_text(whatis "${whatis}")
roff_text(summary "${summary}")
string(TOUPPER "${NAME}" title)

set(see "")
string(REPLACE "," ";" SEE_ALSO "${SEE_ALSO}")
foreach(other IN LISTS SEE_ALSO)
  if(NOT other STREQUAL NAME)
    list(APPEND see "\\fB${other}\\fR(1)")
  endif()
endforeach()
list(JOIN see ",\n" see)

file(WRITE ${OUTPUT}.tmp
  ".TH ${title} 1 \"\" \"veltrane ${VERSION}\" \"Veltrane Link\"\n"
  ".SH NAME\n${NAME} \\- ${whatis}\n"
  ".SH SYNOPSIS\n\\fB${NAME}\\fR [\\fIoptions\\fR]\n"
  ".SH DESCRIPTION\n${summary}\n"
  "${body}"
  ".SH SEE ALSO\n${see}\n")
execute_process(COMMAND gzip -9nc ${OUTPUT}.tmp OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE result)
file(REMOVE ${OUTPUT}.tmp)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip could not compress the page of ${NAME}")
endif()

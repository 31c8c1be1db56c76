# The analyzer program writes its Chinese report under the Chinese file name, in the programs'
# output encoding: GBK on Windows (CR LF line ends), UTF-8 elsewhere.
#   cmake -DANALYZER=... [-DEMULATOR=wine] -DARCHIVE=db.tar.zst -DDB=NAME -DWORK=dir -DENCODING=GBK|UTF-8 -P chinese_report.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf "${ARCHIVE}" WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE unpacked)
if(NOT unpacked EQUAL 0)
  message(FATAL_ERROR "cannot unpack ${ARCHIVE}")
endif()
set(db "${WORK}/${DB}/db")
# -ext 3: batch run, never open the report, Chinese (the default language).
execute_process(COMMAND ${EMULATOR} "${ANALYZER}" -ext 3 WORKING_DIRECTORY "${db}"
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
if(EXISTS "${db}/AnalysisReport.txt")
  message(FATAL_ERROR "the Chinese run wrote the English report name")
endif()

# "当前线程信息:" (current thread info) and the name "_分析报告.txt".
if(ENCODING STREQUAL "GBK")
  set(heading "b5b1c7b0cfdfb3ccd0c5cfa23a")
  set(eol "0d0a")
  # The file name reaches the file system through the ANSI code page of the Windows (or wine)
  # session, so only its shape is checked: the one "_*.txt" file of the folder.
  file(GLOB reports "${db}/_*.txt")
else()
  set(heading "e5bd93e5898de7babfe7a88be4bfa1e681af3a")
  set(eol "0a")
  file(GLOB reports "${db}/_分析报告.txt")
endif()
list(LENGTH reports count)
if(NOT count EQUAL 1)
  file(GLOB all RELATIVE "${db}" "${db}/*")
  message(FATAL_ERROR "expected one Chinese report, found: ${all}\nstatus ${status}\n${out}\n${err}")
endif()
file(READ "${reports}" bytes HEX)
string(FIND "${bytes}" "${eol}${heading}${eol}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "the report lacks the ${ENCODING} heading ${heading} on a line of its own")
endif()
message(STATUS "Chinese report ${reports}: ${ENCODING} heading found")

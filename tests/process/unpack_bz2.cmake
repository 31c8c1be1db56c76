# cmake -DBZIP2=... -DIN=file.bz2 -DOUT=file -P unpack_bz2.cmake: unpacks one bzip2 file.
get_filename_component(dir ${OUT} DIRECTORY)
file(MAKE_DIRECTORY ${dir})
execute_process(COMMAND ${BZIP2} -dc ${IN} OUTPUT_FILE ${OUT}.part RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${OUT}.part)
  message(FATAL_ERROR "cannot unpack ${IN}")
endif()
file(RENAME ${OUT}.part ${OUT})

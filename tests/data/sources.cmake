# The committed exception dbs (made by tools/fixtures/make-all), unpacked into the build tree:
# ${CMAKE_BINARY_DIR}/test-data/NAME/{db,expected} and manifest.tsv (FERROVANE_TEST_DATA_DIR).
file(GLOB FERROVANE_TEST_ARCHIVES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/data/*.tar.zst)
set(FERROVANE_TEST_DATA ${CMAKE_BINARY_DIR}/test-data)
set(FERROVANE_TEST_DATA_STAMPS)
foreach(archive ${FERROVANE_TEST_ARCHIVES})
  get_filename_component(archive_name ${archive} NAME)
  string(REPLACE ".tar.zst" "" db_name ${archive_name})
  set(stamp ${FERROVANE_TEST_DATA}/.${db_name}.unpacked)
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${FERROVANE_TEST_DATA}/${db_name}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${FERROVANE_TEST_DATA}
    COMMAND ${CMAKE_COMMAND} -E chdir ${FERROVANE_TEST_DATA} ${CMAKE_COMMAND} -E tar xf ${archive}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${archive}
    COMMENT "Unpacking test db ${db_name}")
  list(APPEND FERROVANE_TEST_DATA_STAMPS ${stamp})
endforeach()
add_custom_command(
  OUTPUT ${FERROVANE_TEST_DATA}/manifest.tsv
  COMMAND ${CMAKE_COMMAND} -E make_directory ${FERROVANE_TEST_DATA}
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/data/manifest.tsv ${FERROVANE_TEST_DATA}/manifest.tsv
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/data/manifest.tsv)
add_custom_target(ferrovane_test_data ALL DEPENDS ${FERROVANE_TEST_DATA_STAMPS} ${FERROVANE_TEST_DATA}/manifest.tsv)

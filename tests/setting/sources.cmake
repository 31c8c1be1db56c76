# Setting tests: the dialog's logic through a recording view, and the settings store.
ferrovane_app_tests(setting_tests setting
  setting/setting_dialog_test.cpp
  setting/settings_store_test.cpp)

# The dialog itself on a private X server, driven by the keyboard; screenshots land in
# <build>/test-output/setting-*/. Skipped (77) without Xvfb, xdotool or ImageMagick.
if(CMAKE_CROSSCOMPILING)
  set(SETTING_GUI_SCRIPT setting-win32.sh)
else()
  set(SETTING_GUI_SCRIPT setting-gtk.sh)
endif()
string(REPLACE ".sh" "" SETTING_GUI_TEST ${SETTING_GUI_SCRIPT})
add_test(NAME setting.${SETTING_GUI_TEST}
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/setting/${SETTING_GUI_SCRIPT} $<TARGET_FILE_DIR:Setting>
                 ${CMAKE_BINARY_DIR}/test-output/${SETTING_GUI_TEST} ${PROJECT_SOURCE_DIR})
set_tests_properties(setting.${SETTING_GUI_TEST} PROPERTIES
  LABELS "gui;slow" SKIP_RETURN_CODE 77 RESOURCE_LOCK ferrovane-registry TIMEOUT 300)

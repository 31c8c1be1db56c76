# Setting tests: the dialog's logic through a recording view, and the settings store.
ferrovane_app_tests(setting_tests setting
  setting/setting_dialog_test.cpp
  setting/settings_store_test.cpp)

// Resource ids of Setting's Windows dialog. The list ids are those of setting/setting_dialog.h.
#pragma once

#define IDR_MAINFRAME 128
#define IDD_SETTING_DIALOG 102
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDM_ABOUTBOX 0x0010

#define IDC_LANGUAGE 1000
#define IDC_CMM 1001
#define IDC_GDB 1002
#define IDC_LIBRARIES 1003
#define IDC_THREADS 1004

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Identifiers of the resources karvel.exe carries; the numbers are part of its resource interface.
#pragma once

#define IDD_ABOUT 100
#define IDI_MAIN 101
#define IDD_MAIN 102
#define IDD_PROGRESS 103
#define IDD_CONFIRM 104
#define IDR_MAINMENU 129

#define IDC_STATIC -1
#define IDC_TARGET_FILE 1000
#define IDC_PASSPHRASE 1001
#define IDC_OUTPUT 1002
#define IDC_ENCODE 1003
#define IDC_DECODE 1004
#define IDC_PROGRESS_FILE 1005
#define IDC_PROGRESS_BAR 1006
#define IDC_CONFIRM_PASSPHRASE 1007

#define IDM_OPEN 32771
#define IDM_EXIT 32772
#define IDM_WEBSITE 32773
#define IDM_VIEW_HELP 32774
#define IDM_ABOUT 32775
#define IDM_MASK_PASSPHRASE 40001

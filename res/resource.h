// Resource identifiers shared by the resource script and the code.
#pragma once

#define IDI_APP 1
#define IDD_SETUP 101
#define IDI_TRAY 102
#define IDD_REPORT 103

#define IDC_OPT_MORPHEUS 1000
#define IDC_OPT_KAZAA 1001
#define IDC_REFRESH_MINUTES 1003
#define IDC_REFRESH_LABEL 1004
#define IDC_GO 1005
#define IDC_REPAIR 1006
#define IDC_ITEM_LABEL 1008
#define IDC_ITEM_SECONDS 1010
#define IDC_REPORT_TEXT 1010

#define IDM_EXIT 60000
#define IDM_REPAIR_DAT 0x0100

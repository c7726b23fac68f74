#pragma once
// Resource ids: dialog templates, controls, strings, icon and bitmaps.

// Dialog templates
#define IDD_ABOUT 100
#define IDD_CONSOLE 102
#define IDD_PORT 135

// Standard commands
#define IDC_STATIC (-1)
// IDOK 1 and IDCANCEL 2 come from toolkit/MessageBox.h.

// Console (template 102)
#define IDC_PORT 1000
#define IDC_OPERATION 1002
#define IDC_DEVICE 1003
#define IDC_LOGO 1004
#define IDC_FILENAME 1005
#define IDC_BROWSE 1006
#define IDC_EXIT 1007
#define IDC_CHECK_FUSE 1008
#define IDC_VCC 1009
#define IDC_STATUS_PICTURE 1010
#define IDC_PROGRESS 1011
#define IDC_RUN_BATCH 1015
#define IDC_BLOW_FUSE 1016
#define IDC_ERASE_INFO 1017
#define IDC_SERIAL_NUMBER 1018
#define IDC_SERIAL_ADDRESS 1019
#define IDC_SERIAL_TYPE 1020
#define IDC_COUNT 1022
#define IDC_COUNT_UP 1023

// Port selection (template 135)
#define IDC_PORT_LIST 1005
#define IDC_BAUD 1006

// Strings
#define IDS_ABOUTBOX 101
#define IDS_COMPANY 102
#define IDS_SECTION 103
#define IDS_COMM_PORT 104
#define IDS_BAUD 105
#define IDS_DEVICE_NAME 106
#define IDS_FILE_NAME 107
#define IDS_VCC 108
#define IDS_BLOW_FUSE 109
#define IDS_ERASE_FLASH 110
#define IDS_SERIAL_NUMBER 111
#define IDS_SERIAL_ADDRESS 112
#define IDS_SERIAL_TYPE 113
#define IDS_COUNT 115
#define IDS_COUNT_UP 116
#define IDS_PRODUCTIONLOG 117
#define IDS_GANG 118

// System-menu commands of the About, Production Log and Gang entries
#define IDM_ABOUTBOX 16
#define IDM_PRODUCTIONLOG 32
#define IDM_GANG 48

// Icon and bitmaps
#define IDI_MAIN 128
#define IDB_LOGO 129
#define IDB_PASS 132
#define IDB_FAIL 133
#define IDB_PENDING 134

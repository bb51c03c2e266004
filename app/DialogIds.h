// Control and command identifiers of the main dialog and its two private messages.
// Shared by the program, the resource scripts and the end-to-end driver.
#pragma once

#define IDD_MAIN_DIALOG 101
#define IDD_PROGRAM_NAME 103
#define IDC_PROGRAM_NAME_EDIT 1000

#define IDC_CLEAR_LOG 1001
#define IDC_LOG_LIST 1002
#define IDC_FIXED_REQUEST 1003
#define IDC_SEND_NLEC 1004
#define IDC_RAW_DATA 1005
#define IDC_EXPORT_LOG 1006
#define IDC_EXPORT_SELECTION 1007
#define IDC_STATUS_TEXT 1008
#define IDC_COM1 1010
#define IDC_COM2 1011
#define IDC_COM3 1012
#define IDC_COM4 1013
#define IDC_ERASE_FLASH 1014
#define IDC_DOWNLOAD_38400 1015
#define IDC_NEXT 1016
#define IDC_BACK 1017
#define IDC_GET_NLEC 1018
#define IDC_DOWNLOAD_BOOTLOADER 1019
#define IDC_SEND_BITMAP 1021
#define IDC_RECEIVE_SETTINGS 1022
#define IDC_SEND_SETTINGS 1023
#define IDC_RECEIVE_PROGRAM 1024
#define IDC_SEND_PROGRAM 1025
#define IDC_FOOTER_TEXT 1026
#define IDC_TITLE_TEXT 1027
#define IDC_SECOND_TEXT 1028
#define IDC_FIRST_TEXT 1029
#define IDC_CLOSE 1030

// Wizard pictures (bitmap resources).
#define IDB_ENTER_KEY 197
#define IDB_SWITCH_OFF 199
#define IDB_SWITCH_ON 200
#define IDB_CABLE 201
#define IDB_C_KEY 202
#define IDB_MENU_DISPLAY 204
#define IDB_KEY_ONE 205
#define IDB_CABLE_ACTIVE 206
#define IDB_DISPLAY_COUNT 208

#define IDI_PROGRAM_ICON 1

// Private messages, posted by the other threads (WM_USER + 1, WM_USER + 2).
#define WM_PACKET_RECEIVED 1025
#define WM_DOWNLOAD_DONE 1026

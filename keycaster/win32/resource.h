// Resource identifiers of KeyCaster.exe.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_KEYCASTER_DIALOG 102
#define IDR_MAINFRAME 128

#define IDC_START 1000
#define IDC_STOP 1001
#define IDC_COM1 1003
#define IDC_COM2 1004
#define IDC_COM3 1005
#define IDC_COM4 1006
#define IDC_HIDE 1007
#define IDC_SEND_RETURN 1008
#define IDC_COM5 1009
#define IDC_WINDOW_MODE 1010
#define IDC_SHIFT_CODE_PAGE 1011
#define IDC_AUTORUN 1012
#define IDC_FORCE_EAN13 1013
#define IDC_COM6 1015
#define IDC_USB1 1016
#define IDC_USB2 1017
#define IDC_DELAY 1018
#define IDC_CONTROL_DELAY 1020
// Created at run time below the template's controls.
#define IDC_STATUS 1021

#define IDM_ABOUTBOX 0x0010

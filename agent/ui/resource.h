// Resource numbers of KZBDKA: menus, icon, dialog templates and their controls, bitmaps and
// menu commands. Read by the resource compiler and by C++; the strings' numbers are in
// StringTable.inc.
#pragma once

// Frame, icon and menus
#define IDR_MAINFRAME 128
#define IDR_TRAYMENU 130

// Dialog templates
#define IDD_DKADIALOG 108
#define IDD_STATUSDIALOG 109
#define IDD_ANNOTATIONDIALOG 131
#define IDD_ABOUTBOX 134
#define IDD_MANUALSUPPRESSIONDIALOG 135
#define IDD_RECORDONDEMANDDIALOG 136
#define IDD_STATUSIMAGEDIALOG 137

// Controls
#define IDC_ANNOTATE_CALL 1002
#define IDC_ANNOTATION_GROUP 1005
#define IDC_STATUS_TEXT 1007
#define IDC_STATUS_GROUP 1008
#define IDC_VERSION 1010
#define IDC_SUPPRESSION_START 1011
#define IDC_SUPPRESSION_STOP 1012
#define IDC_SUPPRESSION_GROUP 1013
#define IDC_RECORD_ON_DEMAND_GROUP 1014
#define IDC_KEEP 1015
#define IDC_DISCARD 1016
#define IDC_RECORD_ON_DEMAND_STATE 1020
#define IDC_STATUS_PICTURE 1021

// Controls the annotation dialog builds: the n-th button, edit box and label
#define IDC_FIELD_BUTTON_FIRST 2000
#define IDC_FIELD_EDIT_FIRST 2100
#define IDC_FIELD_LABEL_FIRST 2200

// Bitmaps
#define IDB_ANNOTATE 136
#define IDB_SUPPRESSION_START 137
#define IDB_SUPPRESSION_STOP 138
#define IDB_KEEP 140
#define IDB_DISCARD 141
#define IDB_STATUS_IDLE 143
#define IDB_STATUS_RECORDING 144
#define IDB_STATUS_DISCARDING 145
#define IDB_STATUS_UNAVAILABLE 146
#define IDB_STATUS_SUPPRESSING 147

// Commands of the tray menu and the frame
#define ID_APP_EXIT 32775
#define ID_SHOW_HIDE_WINDOW 32776
#define ID_ALWAYS_ON_TOP 32777
#define ID_APP_ABOUT 32779
#define ID_LOGLEVEL_ERRORS 32783
#define ID_LOGLEVEL_WARNINGS 32784
#define ID_LOGLEVEL_MESSAGES 32785
#define ID_LOGLEVEL_INFORMATION 32786
#define ID_LOGLEVEL_PRINT 32787

// The frame's timer
#define ID_MAINFRAME_TIMER 32771
#define ID_SUPERVISION_TIMER 32772

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

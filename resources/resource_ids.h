/* Identifiers of the program's resources and of the main window's controls, shared
   by the resource script and the code. Plain macros: the resource compiler reads
   this file too. */
#pragma once

#define IDI_PROGRAM 1

#define IDD_MAIN 101
#define IDM_WAVEFORM_MENU 103
#define IDM_WINDOW_MENU 119

#define IDB_PLAY 126
#define IDB_STOP 127
#define IDB_REWIND 128
#define IDB_PAUSE 129
#define IDB_RESTART 130
#define IDB_FORWARD 131
#define IDB_BACKWARD 132

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDC_STOP 1001
#define IDC_PLAY_OR_STOP 1002
#define IDC_STATUS 1003
#define IDC_PAUSE 1004
#define IDC_DETAIL 1005
#define IDC_FORMAT 1006
#define IDC_BROWSE 1007
#define IDC_BUFFER_LENGTH 1008
#define IDC_BUFFER_COUNT 1009
#define IDC_BUFFER_LENGTH_SPIN 1010
#define IDC_BUFFER_COUNT_SPIN 1011
#define IDC_DEVICE 1012
#define IDC_MAPPED 1013
#define IDC_FILE_NAME 1014
#define IDC_WAVEFORM 1015
#define IDC_LOOP 1016
#define IDC_TEMPO_CHECK 1017
#define IDC_TEMPO 1018
#define IDC_TEMPO_SPIN 1019
#define IDC_LINEAR_RMS 1020
#define IDC_VOLUME 1021
#define IDC_VOLUME_TEXT 1022
#define IDC_TIME 1023
#define IDC_SEQUENTIAL 1024
#define IDC_REWIND 1025
#define IDC_BACKWARD 1026
#define IDC_START 1027
#define IDC_FORWARD 1028
#define IDC_SIGNAL_PATH 1029

#define IDM_SHOW_DETAILS 40004
#define IDM_ABOUT 40005

/* The private window class the main dialog template names; a running player is
   found by it. */
#define PLAYER_WINDOW_CLASS "$wc_VexatoneExe@ZEMBRIX$"

#pragma once
// Resource and control ids shared by the resource script and the code. Plain
// defines only: the resource compiler reads this file too.

#define BRUT_IDD_UPDATE_DIALOG 103
#define BRUT_IDI_APP 128
#define BRUT_IDB_DEFAULT_BANNER 130

// Controls of dialog template 103.
#define BRUT_IDC_HEADER_BAND 103
#define BRUT_IDC_UPDATE_NOW_BUTTON 128
#define BRUT_IDC_CLOSE_BUTTON 129
#define BRUT_IDC_CONTINUE_BUTTON 130
#define BRUT_IDC_PROGRESS_BAR 1002
#define BRUT_IDC_LBL_MESSAGE_TEXT 1004
#define BRUT_IDC_LBL_SERVER_VERSION_TEXT 1010
#define BRUT_IDC_LBL_SERVER_VERSION 1013
#define BRUT_IDC_RAD_DONT_SHOW_AGAIN 1022
#define BRUT_IDC_RAD_REMIND_ME_LATER 1023
#define BRUT_IDC_RAD_INSTALL_NOW 1024
#define BRUT_IDC_LINK_MAJOR_UPGRADE 1026

// Height in pixels of the header band while it has no banner bitmap.
#define BRUT_HEADER_BAND_HEIGHT 59

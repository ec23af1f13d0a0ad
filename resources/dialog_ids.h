/* Identifiers of the settings dialog (template 107) and its controls.
   Plain macros: the resource compiler reads this file too. */
#ifndef DELBRIN_DIALOG_IDS_H
#define DELBRIN_DIALOG_IDS_H

#define IDD_SETTINGS        107

#define IDC_UNNAMED         0xFFFF  /* statics and group boxes */
#define IDC_PREVIEW         1000
#define IDC_UPDATE          1001
#define IDC_CANCEL_TOP      1002
#define IDC_BORDER          1003
#define IDC_X               1005
#define IDC_X_SPIN          1006
#define IDC_Y               1007
#define IDC_Y_SPIN          1008
#define IDC_WIDTH           1009
#define IDC_WIDTH_SPIN      1010
#define IDC_HEIGHT          1011
#define IDC_HEIGHT_SPIN     1012
#define IDC_CANCEL_BOTTOM   1013
#define IDC_CANCEL_LEFT     1014
#define IDC_CANCEL_RIGHT    1015
#define IDC_FEATHER_ON      1018
#define IDC_FEATHER_WIDTH   1019
#define IDC_FEATHER_SPIN    1021
#define IDC_RANGES          1022
#define IDC_FADE_ON         1023
#define IDC_FADE_FRAMES     1024
#define IDC_FADE_SPIN       1025

#endif

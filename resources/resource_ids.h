// Identifiers of the updater's resources and of the controls of its dialog.
#pragma once

#define IDD_UPDATE 102
#define IDI_MAIN 128
#define IDR_SKIN 129
#define IDR_HAND_CURSOR 136
#define IDI_START 140
#define IDI_STOP 142

#define IDC_STAGE_PROGRESS 1016
#define IDC_FILE_PROGRESS 1017
#define IDC_WELCOME 1018
#define IDC_FILE_SIZE 1019
#define IDC_SPEED 1020
#define IDC_PERCENT 1022
#define IDC_LINK_MANUAL 1024
#define IDC_LINK_HOME 1025
#define IDC_LOG 1029
#define IDC_LINK_LOG 1030
#define IDC_STOP 1031

// Identifiers of the installer's resources, shared by the resource scripts
// and the code.
//
// Ranges:
//   1            version resource (VS_VERSION_INFO)
//   1000-1132    string base identifiers: the French texts. The block of a
//                language holds the same texts at base + its string offset
//                (lang/Languages.cpp): English 2000-2132, German 3000-3132,
//                Spanish 4000, Portuguese 5000, Italian 6000, Dutch 7000,
//                Danish 8000, Turkish 9000, Chinese 10000, Bulgarian 11000,
//                Romanian 12000, Czech 13000, Norwegian 14000, Greek 15000,
//                Polish 16000, Hebrew 17000, Vietnamese 18000, Japanese
//                19000 and Hungarian 20000, each to +133. A text that is
//                exactly "#" is untranslated. 1109, 1116, 1128, 1130-1132
//                have no text in any block.
//   1000-20133   reserved for strings: other resources take identifiers
//                outside this range (dialogs, controls, icons, bitmaps below
//                1000, for example icon 128).
//   100-137      dialog templates: About box 100, wizard frame 102, progress
//                window of a silent run 103, pages 132-137; bitmap 137 is the
//                side picture (another type)
//   137-139      bitmaps: the side picture at 100, 150 and 200 %
//   128, 141-161 icons: the application 128, the language flags 141-158,
//                160 and 161
//   1-3, 1002-1023  control identifiers inside the dialogs (not resources)
#ifndef QV_RESOURCE_H
#define QV_RESOURCE_H

#define IDS_APP_TITLE                 1000  /* Installer */
#define IDS_OK                        1001
#define IDS_CANCEL                    1002
#define IDS_ABOUT                     1003  /* About '%1' */
#define IDS_EXIT                      1004
#define IDS_BACK                      1005
#define IDS_NEXT                      1006
#define IDS_INSTALL                   1007
#define IDS_BROWSE                    1008
#define IDS_START_MENU                1009
#define IDS_PATH_TITLE                1010  /* Installation Folder Selection */
#define IDS_STEP_OK                   1011
#define IDS_STEP_FAILED               1012
#define IDS_UNINSTALL_SHORTCUT        1013  /* Uninstall %1 */
#define IDS_SELECT_LANGUAGE           1014
#define IDS_MODE_TITLE                1015
#define IDS_MODE_QUICK                1016
#define IDS_MODE_ADVANCED             1017
#define IDS_EXAMPLES_FOLDER           1018  /* %1 Examples */
#define IDS_START_INSTALL             1100  /* '%1' Installation. */
#define IDS_START_UPDATE              1101  /* Update from '%1' to '%2'. */
#define IDS_START_INSTALLED           1102
#define IDS_START_NEWER               1103
#define IDS_START_CONFIRM_REINSTALL   1104
#define IDS_CLICK_CONTINUE_OR_EXIT    1105
#define IDS_CLICK_CONTINUE            1106
#define IDS_CLICK_EXIT                1107
#define IDS_CLICK_START               1108
#define IDS_CONFIRM_EXIT              1110
#define IDS_PATH_PROMPT               1111
#define IDS_SHORTCUT_MENU             1112
#define IDS_SHORTCUT_DESKTOP          1113
#define IDS_PREPARING                 1114
#define IDS_COPYING_FILE              1115
#define IDS_CREATING_SHORTCUTS        1117
#define IDS_WRITING_REGISTRY          1118
#define IDS_WRITING_INSTALL_DATA      1119
#define IDS_INSTALL_COMPLETE          1120
#define IDS_INSTALL_FAILED            1121
#define IDS_OPTIONS_TITLE             1122
#define IDS_OPTION_FOLDER             1123
#define IDS_OPTION_START_MENU         1124
#define IDS_OPTION_DESKTOP            1125
#define IDS_NEED_ADMIN                1126
#define IDS_CLOSE_PRODUCT             1127
#define IDS_NO_INSTALLER_TRANSLATION  1129
#define IDS_START_UNFINISHED_RUN      1133

/* Dialog templates */
#define IDD_ABOUT                     100
#define IDD_INSTALL                   102
#define IDD_PROGRESS                  103   /* /S: the install page alone */
#define IDD_PAGE_START                132
#define IDD_PAGE_PATH                 133
#define IDD_PAGE_SHORTCUT             134
#define IDD_PAGE_INSTALL              135
#define IDD_PAGE_MODE                 136
#define IDD_PAGE_END                  137

/* Bitmaps and icons */
#define IDB_SIDE_PICTURE              137   /* 87 x 171, 256 colours */
#define IDB_SIDE_PICTURE_150          138   /* 131 x 257, for 144 DPI */
#define IDB_SIDE_PICTURE_200          139   /* 174 x 342, for 192 DPI */
#define IDI_APPLICATION_ICON          128
#define IDI_FLAG_GERMAN               141
#define IDI_FLAG_DANISH               142
#define IDI_FLAG_SPANISH              143
#define IDI_FLAG_FRENCH               144
#define IDI_FLAG_ENGLISH              145
#define IDI_FLAG_ITALIAN              146
#define IDI_FLAG_DUTCH                147
#define IDI_FLAG_PORTUGUESE           148
#define IDI_FLAG_TURKISH              149
#define IDI_FLAG_BULGARIAN            150
#define IDI_FLAG_ROMANIAN             151
#define IDI_FLAG_CHINESE              152
#define IDI_FLAG_CZECH                153
#define IDI_FLAG_NORWEGIAN            154
#define IDI_FLAG_GREEK                155
#define IDI_FLAG_POLISH               156
#define IDI_FLAG_HEBREW               157
#define IDI_FLAG_VIETNAMESE           158
#define IDI_FLAG_JAPANESE             160
#define IDI_FLAG_HUNGARIAN            161

/* Controls. 1 (IDOK) is Next, 2 (IDCANCEL) Exit, 3 Back. */
#define IDC_BACK                      3
#define IDC_SEPARATOR                 1002  /* frame: etched line over the buttons */
#define IDC_STATUS                    1003  /* pages: what to click next */
#define IDC_SIDE_PANEL                1005  /* frame: white panel behind the picture */
#define IDC_BROWSE                    1006
#define IDC_FOLDER                    1007  /* Path: installation folder; Shortcut: Start-menu folder */
#define IDC_FOLDER_GROUP              1008
#define IDC_FOLDER_PROMPT             1009
#define IDC_DESKTOP_SHORTCUT          1010
#define IDC_MENU_SHORTCUT             1011
#define IDC_MENU_GROUP                1012
#define IDC_PROGRESS                  1014
#define IDC_LOG                       1015
#define IDC_INFO                      1016  /* Start: situation text; End: closing text */
#define IDC_MODE_QUICK                1018
#define IDC_MODE_ADVANCED             1019
#define IDC_ABOUT_VERSION             1019
#define IDC_ABOUT_COPYRIGHT           1020
#define IDC_COPYRIGHT                 1020  /* Start: notice line */
#define IDC_MODE_GROUP                1021
#define IDC_LANGUAGE_LABEL            1022
#define IDC_LANGUAGE                  1023

/* System-menu command of the About box */
#define IDM_ABOUT                     0x0010

#endif

// Identifiers of the installer's resources, shared by the resource scripts
// and the code.
//
// Ranges:
//   1            version resource (VS_VERSION_INFO)
//   1000-1132    string base identifiers: the French texts. The block of a
//                language holds the same texts at base + its string offset
//                (app/Languages.cpp): English 2000-2132, German 3000-3132,
//                Spanish 4000, Portuguese 5000, Italian 6000, Dutch 7000,
//                Danish 8000, Turkish 9000, Chinese 10000, Bulgarian 11000,
//                Romanian 12000, Czech 13000, Norwegian 14000, Greek 15000,
//                Polish 16000, Hebrew 17000, Vietnamese 18000, Japanese
//                19000 and Hungarian 20000, each to +132. A text that is
//                exactly "#" is untranslated. 1109, 1116, 1128, 1130-1132
//                have no text in any block.
//   1000-20132   reserved for strings: other resources take identifiers
//                outside this range (dialogs, controls, icons, bitmaps below
//                1000, for example icon 128).
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

#endif

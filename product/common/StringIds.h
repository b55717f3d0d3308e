#pragma once
// String identifiers shared by the program, the uninstaller and the language
// libraries. The program and the uninstaller carry the French texts; every
// language library carries the same identifiers in its own language.
// Plain #defines: windres reads this header too.

#define IDS_PRODUCT_NAME 100        // Trimora (Quorvex in French)
#define IDS_MENU_FILE 101
#define IDS_MENU_OPEN 102
#define IDS_MENU_EXIT 103
#define IDS_MENU_HELP 104
#define IDS_MENU_ABOUT 105
#define IDS_DOCUMENT_TYPE 106       // name of the .qvn file type in Explorer
#define IDS_UNTITLED 107
#define IDS_OPEN_FAILED 108         // %1: the file
#define IDS_UNINSTALL_CONFIRM 109   // %1: the product label, e.g. Trimora 6.04
#define IDS_UNINSTALL_DONE 110      // %1: the product label
#define IDS_UNINSTALL_PARTIAL 111   // %1: the product label
#define IDS_UNINSTALL_RUNNING 112   // %1: the product label
#define IDS_UNINSTALL_NO_LOG 113    // %1: the product label

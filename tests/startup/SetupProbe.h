// Resource identifiers of the installer's test build (SetupProbe.cpp).
#define IDD_PROBE_FRAME 300
#define IDC_PROBE_INSTALL_PATH 1001
#define IDC_PROBE_START_MENU 1002
#define IDC_PROBE_SESSION 1003

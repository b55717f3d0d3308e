// Resource identifiers of the framework tests' dialog templates.
#define IDD_TEST_MODAL 200
#define IDD_TEST_PAGE 201
#define IDC_TEST_TEXT 1001
#define IDC_TEST_CHECK 1002
#define IDC_TEST_RADIO1 1003
#define IDC_TEST_RADIO2 1004
#define IDC_TEST_AFTER 1005
#define IDC_TEST_OTHER 1006
#define IDC_PAGE_TEXT 1101

#pragma once
// Classes in this file:
//   MainWindow  the program's top-level window: a menu and a read-only view
//               of the open notebook, drawn for the DPI of its screen
//
// A notebook (.qvn) is UTF-8 text whose first line is "Trimora Notebook 1".

#include "product/common/ProductStrings.h"
#include "sys/Handles.h"

#include <windows.h>

#include <string>

namespace qv::product {

inline constexpr wchar_t kMainWindowClass[] = L"OrvaneTrimoraMainWindow";

class MainWindow {
public:
    explicit MainWindow(const ProductStrings& strings) : strings_(strings) {}
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    bool create(HINSTANCE instance, int showCommand);
    // Shows the notebook; false (with a message) when it cannot be read.
    bool open(const std::wstring& path);
    // The message loop; returns the exit code.
    int run();

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM w, LPARAM l);
    LRESULT handle(UINT message, WPARAM w, LPARAM l);
    void buildMenu();
    void updateTitle();
    void chooseAndOpen();
    // The view's font and the window's icons for dpi.
    void followDpi(UINT dpi);

    const ProductStrings& strings_;
    HWND window_ = nullptr;
    HWND view_ = nullptr;
    UniqueFont scaledFont_;  // the view's font at a DPI other than the system's
    UniqueIcon bigIcon_, smallIcon_;
    std::wstring documentName_;
};

// The text of a notebook file with CR LF line ends, or nothing when the file
// cannot be read or is not a notebook.
bool readNotebook(const std::wstring& path, std::wstring& text);

}  // namespace qv::product

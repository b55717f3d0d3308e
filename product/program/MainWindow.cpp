#include "product/program/MainWindow.h"

#include "product/common/ProductNames.h"
#include "sys/Dpi.h"
#include "sys/Handles.h"

#include <commdlg.h>

#include <string_view>
#include <vector>

namespace qv::product {

namespace {

enum Command : UINT { CmdOpen = 100, CmdExit = 101, CmdAbout = 102 };

std::wstring fileNameOf(const std::wstring& path)
{
    std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool readNotebook(const std::wstring& path, std::wstring& text)
{
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart > (16 << 20)) return false;
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!bytes.empty() && (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
                           got != bytes.size()))
        return false;

    std::string_view view(bytes);
    if (view.substr(0, 3) == "\xEF\xBB\xBF") view.remove_prefix(3);
    std::string_view signature(kNotebookSignature);
    if (view.substr(0, signature.size()) != signature) return false;
    std::string_view rest = view.substr(signature.size());
    if (!rest.empty() && rest.front() != '\r' && rest.front() != '\n') return false;

    int length = ::MultiByteToWideChar(CP_UTF8, 0, view.data(), static_cast<int>(view.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, view.data(), static_cast<int>(view.size()), wide.data(), length);
    // An edit control breaks lines only at CR LF.
    text.clear();
    text.reserve(wide.size() + wide.size() / 16);
    for (std::size_t i = 0; i < wide.size(); ++i) {
        if (wide[i] == L'\r') continue;
        if (wide[i] == L'\n') text += L'\r';
        text += wide[i];
    }
    return true;
}

bool MainWindow::create(HINSTANCE instance, int showCommand)
{
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(1));
    wc.hIconSm = wc.hIcon;
    wc.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kMainWindowClass;
    if (!::RegisterClassExW(&wc)) return false;

    window_ = ::CreateWindowExW(0, kMainWindowClass, L"", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 720,
                                520, nullptr, nullptr, instance, this);
    if (!window_) return false;
    // 720 x 520 is the size at 96 DPI.
    if (const UINT dpi = windowDpi(window_); dpi != kDefaultDpi) {
        ::SetWindowPos(window_, nullptr, 0, 0, scaledForDpi(720, dpi), scaledForDpi(520, dpi),
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        followDpi(dpi);
    }
    buildMenu();
    updateTitle();
    ::ShowWindow(window_, showCommand);
    ::UpdateWindow(window_);
    return true;
}

bool MainWindow::open(const std::wstring& path)
{
    std::wstring text;
    if (!readNotebook(path, text)) {
        ::MessageBoxW(window_, strings_.format(IDS_OPEN_FAILED, path).c_str(), strings_.get(IDS_PRODUCT_NAME).c_str(),
                      MB_OK | MB_ICONWARNING);
        return false;
    }
    ::SetWindowTextW(view_, text.c_str());
    documentName_ = fileNameOf(path);
    updateTitle();
    return true;
}

int MainWindow::run()
{
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

void MainWindow::buildMenu()
{
    HMENU file = ::CreatePopupMenu();
    ::AppendMenuW(file, MF_STRING, CmdOpen, strings_.get(IDS_MENU_OPEN).c_str());
    ::AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(file, MF_STRING, CmdExit, strings_.get(IDS_MENU_EXIT).c_str());
    HMENU help = ::CreatePopupMenu();
    ::AppendMenuW(help, MF_STRING, CmdAbout, strings_.get(IDS_MENU_ABOUT).c_str());
    HMENU bar = ::CreateMenu();
    ::AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), strings_.get(IDS_MENU_FILE).c_str());
    ::AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(help), strings_.get(IDS_MENU_HELP).c_str());
    ::SetMenu(window_, bar);  // destroyed with the window
}

void MainWindow::updateTitle()
{
    std::wstring title = strings_.get(IDS_PRODUCT_NAME) + L" " + kProductVersionText + L" - " +
                         (documentName_.empty() ? strings_.get(IDS_UNTITLED) : documentName_);
    ::SetWindowTextW(window_, title.c_str());
}

void MainWindow::followDpi(UINT dpi)
{
    // The stock font is made for the system's DPI; other screens get a copy
    // of it at their own.
    HFONT font = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
    UniqueFont scaled;
    if (dpi != systemDpi()) {
        LOGFONTW description{};
        if (::GetObjectW(font, sizeof description, &description)) {
            description.lfHeight = ::MulDiv(description.lfHeight, static_cast<int>(dpi), static_cast<int>(systemDpi()));
            scaled.reset(::CreateFontIndirectW(&description));
        }
    }
    ::SendMessageW(view_, WM_SETFONT, reinterpret_cast<WPARAM>(scaled ? scaled.get() : font), TRUE);
    scaledFont_ = std::move(scaled);

    HINSTANCE instance = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(window_, GWLP_HINSTANCE));
    auto load = [&](int width, int height) {
        return UniqueIcon(static_cast<HICON>(
            ::LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, width, height, 0)));
    };
    if (UniqueIcon icon = load(systemMetricForDpi(SM_CXICON, dpi), systemMetricForDpi(SM_CYICON, dpi))) {
        ::SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon.get()));
        bigIcon_ = std::move(icon);
    }
    if (UniqueIcon icon = load(systemMetricForDpi(SM_CXSMICON, dpi), systemMetricForDpi(SM_CYSMICON, dpi))) {
        ::SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon.get()));
        smallIcon_ = std::move(icon);
    }
}

void MainWindow::chooseAndOpen()
{
    std::wstring typeName = strings_.get(IDS_DOCUMENT_TYPE);
    std::wstring filter = typeName + L" (*.qvn)" + L'\0' + L"*.qvn" + L'\0' + L'\0';
    std::vector<wchar_t> file(MAX_PATH * 4, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = window_;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (::GetOpenFileNameW(&ofn)) open(file.data());
}

LRESULT CALLBACK MainWindow::windowProc(HWND window, UINT message, WPARAM w, LPARAM l)
{
    if (message == WM_NCCREATE) {
        auto self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
        self->window_ = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    return self ? self->handle(message, w, l) : ::DefWindowProcW(window, message, w, l);
}

LRESULT MainWindow::handle(UINT message, WPARAM w, LPARAM l)
{
    switch (message) {
    case WM_CREATE:
        view_ = ::CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                                  WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
                                  0, 0, 0, 0, window_, nullptr, nullptr, nullptr);
        ::SendMessageW(view_, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), FALSE);
        return view_ ? 0 : -1;
    case WM_SIZE:
        ::MoveWindow(view_, 0, 0, LOWORD(l), HIWORD(l), TRUE);
        return 0;
    case WM_SETFOCUS:
        ::SetFocus(view_);
        return 0;
    case WM_COMMAND:
        switch (LOWORD(w)) {
        case CmdOpen: chooseAndOpen(); return 0;
        case CmdExit: ::DestroyWindow(window_); return 0;
        case CmdAbout: {
            std::wstring name = strings_.get(IDS_PRODUCT_NAME) + L" " + kProductVersionText;
            std::wstring text = name + L"\r\n\r\n\u00A9 2024 Orvane Systems";
            ::MessageBoxW(window_, text.c_str(), name.c_str(), MB_OK | MB_ICONINFORMATION);
            return 0;
        }
        }
        break;
    case WM_DPICHANGED: {
        // Per-monitor aware: moved to a screen of another DPI. Windows
        // suggests the window's new place and size there.
        const auto* suggested = reinterpret_cast<const RECT*>(l);
        ::SetWindowPos(window_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                       suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        followDpi(LOWORD(w));
        return 0;
    }
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window_, message, w, l);
}

}  // namespace qv::product

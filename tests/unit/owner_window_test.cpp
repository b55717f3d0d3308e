#include "sys/OwnerWindow.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace {

struct Window {
    HWND handle = nullptr;
    explicit Window(DWORD style, HWND owner = nullptr)
    {
        handle = ::CreateWindowExW(0, L"STATIC", L"owner test", style, 10, 10, 200, 100, owner,
                                   nullptr, ::GetModuleHandleW(nullptr), nullptr);
    }
    ~Window()
    {
        if (handle) ::DestroyWindow(handle);
    }
};

void pump()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
}

TEST(FindOwnerWindow, NullWithoutWindows)
{
    EXPECT_EQ(qv::findOwnerWindow(), nullptr);
}

TEST(FindOwnerWindow, FirstCaptionedWindowWhenNoneIsActive)
{
    Window frame(WS_OVERLAPPEDWINDOW);
    Window bare(WS_POPUP);  // above the frame in the z-order, but without caption
    ASSERT_TRUE(bare.handle && frame.handle);
    ASSERT_EQ(::GetActiveWindow(), nullptr);
    EXPECT_EQ(qv::findOwnerWindow(), frame.handle);
}

TEST(FindOwnerWindow, LastActivePopupOfTheActiveWindowsRootOwner)
{
    Window frame(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    ASSERT_TRUE(frame.handle);
    ::SetForegroundWindow(frame.handle);
    ::SetActiveWindow(frame.handle);
    pump();
    ASSERT_EQ(::GetActiveWindow(), frame.handle);
    EXPECT_EQ(qv::findOwnerWindow(), frame.handle);

    Window popup(WS_POPUP | WS_CAPTION | WS_VISIBLE, frame.handle);
    ASSERT_TRUE(popup.handle);
    ::SetActiveWindow(popup.handle);
    pump();
    ASSERT_EQ(::GetActiveWindow(), popup.handle);
    EXPECT_EQ(qv::findOwnerWindow(), popup.handle);
}

}  // namespace

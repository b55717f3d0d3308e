// The steps after the extraction: the shortcut step only when a shortcut was
// chosen, and the registration run with its outcomes, of which only a
// successful one tells the shell that file associations changed.

#include "SequenceScenario.h"

#include "uninstall/UninstallLog.h"

#include <gmock/gmock.h>

#include <windows.h>
#include <shlobj.h>

#include <algorithm>

namespace qv::test {
namespace {

using ::testing::ElementsAreArray;

constexpr UINT AssociationsChanged = WM_APP + 1;

// Counts the shell's "file associations changed" notifications, as a window
// registered for them receives them. Under Wine the shell delivers them to
// the windows of this process at once, inside SHChangeNotify; on Windows
// they arrive as messages, taken by count().
class AssociationNotifications {
public:
    AssociationNotifications()
    {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = &AssociationNotifications::windowProc;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"QvAssociationNotifications";
        ::RegisterClassW(&windowClass);
        window_ = ::CreateWindowW(windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
        SHChangeNotifyEntry everything{nullptr, TRUE};
        registration_ = ::SHChangeNotifyRegister(window_, SHCNRF_ShellLevel | SHCNRF_InterruptLevel,
                                                 SHCNE_ASSOCCHANGED, AssociationsChanged, 1, &everything);
        received_ = 0;
    }
    ~AssociationNotifications()
    {
        if (registration_) ::SHChangeNotifyDeregister(registration_);
        if (window_) ::DestroyWindow(window_);
    }
    AssociationNotifications(const AssociationNotifications&) = delete;
    AssociationNotifications& operator=(const AssociationNotifications&) = delete;

    bool listening() const noexcept { return window_ && registration_; }
    int count()
    {
        MSG message;
        while (::PeekMessageW(&message, window_, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
        return received_;
    }

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == AssociationsChanged && (static_cast<LONG>(lParam) & SHCNE_ASSOCCHANGED)) {
            ++received_;
            return 0;
        }
        return ::DefWindowProcW(window, message, wParam, lParam);
    }

    static inline int received_ = 0;
    HWND window_ = nullptr;
    ULONG registration_ = 0;
};

class Steps : public SequenceScenario {
protected:
    // The last lines of the log: the steps after the copied files.
    std::vector<std::wstring> stepLines() const
    {
        std::vector<std::wstring> steps;
        for (const std::wstring& line : display.lines()) {
            const bool separator = line.find_first_not_of(L'-') == std::wstring::npos;
            if (!separator && !line.starts_with(L"Copying File  ") && !line.starts_with(L"Preparing "))
                steps.push_back(line);
        }
        return steps;
    }

    // Installs while a window listens to the shell: how many "file
    // associations changed" it heard.
    int announcementsOfInstall(InstallSession& app)
    {
        AssociationNotifications notifications;
        EXPECT_TRUE(notifications.listening());
        EXPECT_TRUE(install(app, payload));
        return notifications.count();
    }

    static std::vector<std::int32_t> loggedKinds(const std::wstring& log)
    {
        UninstallLog read;
        read.read(log.c_str());
        std::vector<std::int32_t> kinds;
        for (const LogEntry& entry : read.previousEntries()) kinds.push_back(entry.kind);
        return kinds;
    }
};

TEST_F(Steps, NeitherShortcutLeavesNoShortcutStep)
{
    auto app = startApp();
    app->createStartMenuShortcut = false;
    app->createDesktopShortcut = false;
    ASSERT_TRUE(install(*app, payload));

    EXPECT_THAT(stepLines(), ElementsAreArray({std::wstring(L"Registry Data Writing...OK"),
                                               std::wstring(L"Installation Data Writing...OK")}));
    EXPECT_EQ(display.status, L"Click on 'Next' to continue.");
    const std::vector<std::int32_t> kinds = loggedKinds(installPath + L"\\Uninstall.ulog");
    ASSERT_FALSE(kinds.empty());
    for (std::int32_t kind : {ProgramShortcut, UninstallShortcut, DesktopShortcut})
        EXPECT_EQ(std::count(kinds.begin(), kinds.end(), kind), 0) << kind;
    EXPECT_EQ(::GetFileAttributesW(startMenuFolder.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Steps, SuccessfulRegistrationRunIsAnnouncedToTheShellOnce)
{
    auto app = startApp();
    EXPECT_EQ(announcementsOfInstall(*app), 1);
    EXPECT_THAT(stepLines(), ElementsAreArray({std::wstring(L"Shortcuts Creation...OK"),
                                               std::wstring(L"Registry Data Writing...OK"),
                                               std::wstring(L"Installation Data Writing...OK")}));
}

TEST_F(Steps, RegistrationRunEndingWithZeroIsNotAnnounced)
{
    ::SetEnvironmentVariableW(L"QV_REGISTRAR_EXIT", L"0");
    auto app = startApp();
    EXPECT_EQ(announcementsOfInstall(*app), 0);
    EXPECT_EQ(stepLines().at(1), L"Registry Data Writing...Failed");
}

// The program file is no program: the run cannot be started. The step
// fails, the sequence goes on and succeeds, the installer's mutex is its
// own again, and the shell hears nothing.
TEST_F(Steps, RegistrationRunThatCannotStart)
{
    payload[0].data = "not a program";
    auto app = startApp();
    EXPECT_EQ(announcementsOfInstall(*app), 0);
    EXPECT_THAT(stepLines(), ElementsAreArray({std::wstring(L"Shortcuts Creation...OK"),
                                               std::wstring(L"Registry Data Writing...Failed"),
                                               std::wstring(L"Installation Data Writing...OK")}));
    EXPECT_EQ(display.status, L"Click on 'Next' to continue.");
    EXPECT_TRUE(app->instanceMutex.owned());
    // The registration entry is journalled as not done.
    UninstallLog log;
    log.read((installPath + L"\\Uninstall.ulog").c_str());
    ASSERT_FALSE(log.previousEntries().empty());
    EXPECT_EQ(log.previousEntries().back().kind, ClassesRootKeys);
    EXPECT_FALSE(log.previousEntries().back().done);
}

}  // namespace
}  // namespace qv::test

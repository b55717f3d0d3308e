#pragma once
// Classes in this file:
//   CDlgStart   the first page: the language list with flags (a language
//               change re-labels the whole wizard at once) and the text
//               telling what this run is going to do
// Functions:
//   startPageTexts   the situation text and status line for a state

#include "sys/Handles.h"
#include "wizard/WizardPage.h"

#include <commctrl.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>

namespace qv {

enum class InstallState : std::int32_t;

// The languages of the list, in list order, with their flag icons.
struct ListedLanguage {
    std::uint32_t index;
    UINT flagIcon;
};
extern const std::array<ListedLanguage, 14> listedLanguages;

// The situation text (control 1016) and the status line (1003) in the
// current language. product: the product's label with version;
// installedVersion: the label of the installation found (older or newer).
std::pair<std::wstring, std::wstring> startPageTexts(InstallState state, const std::wstring& product,
                                                     const std::wstring& installedVersion);

class CDlgStart : public CWizardPage {
public:
    explicit CDlgStart(InstallSession& session);
    ~CDlgStart() override;

    void RefreshTexts() override;
    void StretchControls(int dx, int dy) override;
    // The flags for dpi: 16 x 12 at 96 DPI in cells of 18 x 12, scaled.
    void FollowDpi(UINT dpi) override;

protected:
    void DoDataExchange(DataExchange& dx) override;
    BOOL OnInitDialog() override;
    bool OnCommand(WPARAM wParam, LPARAM lParam) override;

private:
    void fillLanguageList();
    void onLanguageSelected();
    UniqueImageList createFlagImages(UINT dpi) const;
    HICON loadFlag(UINT icon, UINT dpi) const;

    HWND languageList = nullptr;
    UniqueImageList flagImages;
    // Per listed language, the index of its flag in flagImages (negative:
    // none).
    std::array<int, 14> flagIndexes{};
    UINT flagDpi = 0;
};

}  // namespace qv

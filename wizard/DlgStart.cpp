#include "wizard/DlgStart.h"

#include "app/InstallApp.h"
#include "app/Languages.h"
#include "app/LocalizedStrings.h"
#include "app/Product.h"
#include "framework/DataExchange.h"
#include "framework/Format.h"
#include "resources/resource.h"
#include "sys/VersionInfo.h"

#include <algorithm>

namespace qv {

const std::array<ListedLanguage, 14> listedLanguages{{
    {0, IDI_FLAG_FRENCH},      {1, IDI_FLAG_ENGLISH},   {2, IDI_FLAG_GERMAN},
    {3, IDI_FLAG_SPANISH},     {11, IDI_FLAG_ITALIAN},  {4, IDI_FLAG_PORTUGUESE},
    {5, IDI_FLAG_DUTCH},       {15, IDI_FLAG_POLISH},   {14, IDI_FLAG_GREEK},
    {7, IDI_FLAG_TURKISH},     {8, IDI_FLAG_BULGARIAN}, {9, IDI_FLAG_ROMANIAN},
    {10, IDI_FLAG_CHINESE},    {19, IDI_FLAG_HUNGARIAN},
}};

std::pair<std::wstring, std::wstring> startPageTexts(InstallState state, const std::wstring& product,
                                                     const std::wstring& installedVersion)
{
    auto text = [](UINT id) { return loadLocalizedString(id); };
    auto format = [](UINT id, std::initializer_list<std::wstring_view> args) {
        return formatText(loadLocalizedString(id), args);
    };
    const std::wstring next = text(IDS_NEXT);
    const std::wstring cancel = text(IDS_CANCEL);
    switch (state) {
    case InstallState::OlderVersion:
        return {format(IDS_START_UPDATE, {installedVersion, product}), format(IDS_CLICK_CONTINUE, {next})};
    case InstallState::SameVersion:
        return {format(IDS_START_INSTALLED, {product}) + L"\r\n" + text(IDS_START_CONFIRM_REINSTALL),
                format(IDS_CLICK_CONTINUE_OR_EXIT, {next, cancel})};
    case InstallState::NewerVersion:
        return {format(IDS_START_INSTALL, {product}) + L"\r\n" + format(IDS_START_NEWER, {installedVersion}),
                format(IDS_CLICK_EXIT, {cancel})};
    case InstallState::NotInstalled:
    default:
        return {format(IDS_START_INSTALL, {product}), format(IDS_CLICK_CONTINUE, {next})};
    }
}

CDlgStart::CDlgStart(CInstallApp& app) : CWizardPage(IDD_PAGE_START, app) {}

CDlgStart::~CDlgStart()
{
    // The list does not own its image list.
    DestroyWindow();
    if (flagImages) ::ImageList_Destroy(flagImages);
}

void CDlgStart::DoDataExchange(DataExchange& dx)
{
    ddxControl(dx, IDC_LANGUAGE, languageList);
}

BOOL CDlgStart::OnInitDialog()
{
    BOOL result = CWizardPage::OnInitDialog();
    fillLanguageList();
    return result;
}

void CDlgStart::fillLanguageList()
{
    if (!languageList) return;
    flagImages = ::ImageList_Create(18, 12, ILC_COLOR24, 8, 1);
    ::SendMessageW(languageList, CBEM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(flagImages));

    const std::uint32_t current = currentLanguage().languageIndex;
    HINSTANCE module = resourceInstance();
    int counter = 0;
    int selection = -1;
    for (const ListedLanguage& language : listedLanguages) {
        std::wstring name = nativeLanguageName(language.index);
        COMBOBOXEXITEMW item{};
        item.mask = CBEIF_TEXT | CBEIF_IMAGE | CBEIF_SELECTEDIMAGE | CBEIF_LPARAM;
        item.iItem = counter++;
        item.pszText = name.data();
        item.iImage = item.iSelectedImage = I_IMAGENONE;
        item.lParam = static_cast<LPARAM>(language.index);
        // A flag that cannot be loaded leaves the item without a picture.
        if (HICON flag = static_cast<HICON>(::LoadImageW(module, MAKEINTRESOURCEW(language.flagIcon),
                                                         IMAGE_ICON, 16, 12, 0))) {
            if (flagImages) item.iImage = item.iSelectedImage = ::ImageList_AddIcon(flagImages, flag);
            ::DestroyIcon(flag);
        }
        const LRESULT position =
            ::SendMessageW(languageList, CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        if (language.index == current) selection = static_cast<int>(position);
    }

    // The drop-down part shows the longest name whole, whatever the width of
    // the closed list.
    int widest = -1;
    if (HDC dc = ::GetDC(languageList)) {
        HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(hwnd(), WM_GETFONT, 0, 0)));
        const int count = static_cast<int>(::SendMessageW(languageList, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            wchar_t buffer[257]{};
            COMBOBOXEXITEMW item{};
            item.mask = CBEIF_TEXT;
            item.iItem = i;
            item.pszText = buffer;
            item.cchTextMax = 256;
            if (!::SendMessageW(languageList, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) continue;
            SIZE size{};
            if (::GetTextExtentPoint32W(dc, buffer, ::lstrlenW(buffer), &size)) widest = std::max<int>(widest, size.cx);
        }
        ::SelectObject(dc, old);
        ::ReleaseDC(languageList, dc);
    }
    HWND combo = reinterpret_cast<HWND>(::SendMessageW(languageList, CBEM_GETCOMBOCONTROL, 0, 0));
    ::SendMessageW(combo ? combo : languageList, CB_SETDROPPEDWIDTH, widest < 0 ? 0 : widest + 30, 0);
    ::SendMessageW(languageList, CB_SETCURSEL, static_cast<WPARAM>(selection), 0);
}

bool CDlgStart::OnCommand(WPARAM wParam, LPARAM lParam)
{
    if (LOWORD(wParam) == IDC_LANGUAGE && HIWORD(wParam) == CBN_SELCHANGE) {
        onLanguageSelected();
        return true;
    }
    return CWizardPage::OnCommand(wParam, lParam);
}

// The choice takes effect at once: the whole wizard is re-labelled, the list
// keeps the user's selection.
void CDlgStart::onLanguageSelected()
{
    const LRESULT selected = ::SendMessageW(languageList, CB_GETCURSEL, 0, 0);
    if (selected == CB_ERR) return;
    COMBOBOXEXITEMW item{};
    item.mask = CBEIF_LPARAM;
    item.iItem = selected;
    if (!::SendMessageW(languageList, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return;
    onLanguageChosen(static_cast<std::uint32_t>(item.lParam));
}

void CDlgStart::RefreshTexts()
{
    std::wstring installedVersion;
    const InstallState state = app().getInstallState(&installedVersion);
    auto [info, status] = startPageTexts(state, productLabel(false), installedVersion);
    SetDlgItemText(IDC_INFO, info);
    SetDlgItemText(IDC_STATUS, status);
    SetDlgItemText(IDC_COPYRIGHT, VersionInfo::ofSelf().stringValue(L"LegalCopyright"));
    SetDlgItemText(IDC_LANGUAGE_LABEL, text(IDS_SELECT_LANGUAGE));
}

void CDlgStart::StretchControls(int dx, int dy)
{
    adjustControl(IDC_LANGUAGE, 0, 0, dx, 0);
    adjustControl(IDC_COPYRIGHT, 0, 0, dx, 0);
    adjustControl(IDC_INFO, 0, 0, dx, dy);
    adjustControl(IDC_STATUS, 0, dy, dx, 0);
}

}  // namespace qv

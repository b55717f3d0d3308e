#include "wizard/DlgStart.h"

#include "engine/InstallSession.h"
#include "app/LanguageChoice.h"
#include "lang/Languages.h"
#include "lang/LocalizedStrings.h"
#include "identity/Product.h"
#include "framework/DataExchange.h"
#include "sys/TextFormat.h"
#include "resources/resource.h"
#include "sys/Dpi.h"
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

CDlgStart::CDlgStart(InstallSession& session) : CWizardPage(IDD_PAGE_START, session) {}

CDlgStart::~CDlgStart()
{
    // The list does not own its image list: the list goes first.
    DestroyWindow();
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

UniqueImageList CDlgStart::createFlagImages(UINT dpi) const
{
    return UniqueImageList(
        ::ImageList_Create(scaledForDpi(18, dpi), scaledForDpi(12, dpi), ILC_COLOR24, 8, 1));
}

HICON CDlgStart::loadFlag(UINT icon, UINT dpi) const
{
    return static_cast<HICON>(::LoadImageW(resourceInstance(), MAKEINTRESOURCEW(icon), IMAGE_ICON,
                                           scaledForDpi(16, dpi), scaledForDpi(12, dpi), 0));
}

void CDlgStart::fillLanguageList()
{
    if (!languageList) return;
    flagDpi = windowDpi(hwnd());
    flagImages = createFlagImages(flagDpi);
    ::SendMessageW(languageList, CBEM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(flagImages.get()));

    const std::uint32_t current = currentLanguage().languageIndex;
    int counter = 0;
    int selection = -1;
    for (const ListedLanguage& language : listedLanguages) {
        std::wstring name = nativeLanguageName(language.index);
        COMBOBOXEXITEMW item{};
        item.mask = CBEIF_TEXT | CBEIF_IMAGE | CBEIF_SELECTEDIMAGE | CBEIF_LPARAM;
        item.iItem = counter;
        item.pszText = name.data();
        item.iImage = item.iSelectedImage = I_IMAGENONE;
        item.lParam = static_cast<LPARAM>(language.index);
        // A flag that cannot be loaded leaves the item without a picture.
        if (UniqueIcon flag{loadFlag(language.flagIcon, flagDpi)}) {
            if (flagImages) item.iImage = item.iSelectedImage = ::ImageList_AddIcon(flagImages.get(), flag.get());
        }
        flagIndexes[static_cast<std::size_t>(counter++)] = item.iImage;
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

// The same pictures at their places in a new list, so that every item keeps
// its image index; a flag that cannot be loaded at the new size stays blank.
void CDlgStart::FollowDpi(UINT dpi)
{
    if (!languageList || dpi == flagDpi) return;
    UniqueImageList images = createFlagImages(dpi);
    if (!images) return;
    int count = 0;
    for (int index : flagIndexes) count = std::max(count, index + 1);
    ::ImageList_SetImageCount(images.get(), static_cast<UINT>(count));
    for (std::size_t i = 0; i < listedLanguages.size(); ++i) {
        if (flagIndexes[i] < 0) continue;
        if (UniqueIcon flag{loadFlag(listedLanguages[i].flagIcon, dpi)})
            ::ImageList_ReplaceIcon(images.get(), flagIndexes[i], flag.get());
    }
    ::SendMessageW(languageList, CBEM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images.get()));
    flagImages = std::move(images);
    flagDpi = dpi;
    ::InvalidateRect(languageList, nullptr, TRUE);
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
    const InstallState state = session().getInstallState(&installedVersion);
    auto [info, status] = startPageTexts(state, productLabel(false), installedVersion);
    // An earlier run start-up could not finish keeps any installation from
    // starting: said first, before the user goes through the pages.
    if (session().unfinishedRunInTheWay)
        info = formatText(text(IDS_START_UNFINISHED_RUN), {productLabel(false)}) + L"\r\n" + info;
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

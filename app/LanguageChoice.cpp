#include "app/LanguageChoice.h"

#include "app/InstallApp.h"
#include "framework/WinApp.h"
#include "framework/Wnd.h"
#include "identity/Product.h"
#include "lang/Languages.h"
#include "lang/LocalizedStrings.h"
#include "resources/resource.h"
#include "sys/Handles.h"
#include "sys/TextFormat.h"

namespace qv {

namespace {

// OvLanguage as an earlier installation wrote it: exactly 4 bytes, whatever
// the value's registry type.
bool readRecordedLanguage(std::uint32_t& index)
{
    UniqueKey key;
    std::wstring path = UninstallKeyPath + productKeyName(productCode);
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return false;
    DWORD value = 0, size = sizeof(value);
    if (::RegQueryValueExW(key.get(), L"OvLanguage", nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                           &size) != ERROR_SUCCESS ||
        size != sizeof(value))
        return false;
    index = value;
    return true;
}

}  // namespace

void chooseStartupLanguage()
{
    setLanguage(languageFromUserLocale(OfferedLanguages));
    std::uint32_t recorded = 0;
    if (readRecordedLanguage(recorded) && isOfferedLanguage(recorded)) setLanguage(recorded);
    if (!hasInstallerTranslation(currentLanguage().languageIndex)) setLanguage(EnglishLanguage);
}

void onLanguageChosen(std::uint32_t index)
{
    setLanguage(index);
    if (!hasInstallerTranslation(index)) {
        // Shown while the chosen language is current, so in English.
        std::wstring text = formatText(loadLocalizedString(IDS_NO_INSTALLER_TRANSLATION), {productLabel(true)});
        if (CWinApp* app = CWinApp::current()) app->messageBox(text, MB_ICONINFORMATION | MB_OK);
        setLanguage(EnglishLanguage);
    }
    refreshAppTitle();
    if (CWinApp* app = CWinApp::current())
        if (CWnd* main = app->mainWnd()) main->RefreshTexts();
}

}  // namespace qv

#include "app/InstallApp.h"
#include "lang/Languages.h"
#include "identity/Product.h"
#include "sys/TextFormat.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace qv;

namespace {

TEST(Session, ApplicationObjectStartsEmpty)
{
    productCode = 0;
    {
        CInstallApp app;
        EXPECT_EQ(installApp(), &app);
        EXPECT_EQ(productCode, 518u);
        EXPECT_EQ(app.installState, InstallState::NotInstalled);
        EXPECT_EQ(app.previousVersionText, L"");
        EXPECT_EQ(app.installPath, L"");
        EXPECT_EQ(app.startMenuFolder, L"");
        EXPECT_EQ(app.tempFolder, L"");
        EXPECT_FALSE(app.createStartMenuShortcut);
        EXPECT_FALSE(app.createDesktopShortcut);
        EXPECT_FALSE(app.advancedMode);
        EXPECT_FALSE(app.installed);
        EXPECT_EQ(app.previousVersion, 0u);
        EXPECT_NE(app.instanceMutex.handle(), nullptr) << "the installer's mutex exists";
        EXPECT_FALSE(app.instanceMutex.owned()) << "and is taken only by start-up";
        EXPECT_TRUE(app.uninstallLog.newEntries().empty());
        EXPECT_TRUE(app.uninstallLog.previousEntries().empty());
        // Until start-up names it, the application is named after its file.
        EXPECT_EQ(app.appName(), L"session_test");
        EXPECT_EQ(app.mainWnd(), nullptr);
    }
    EXPECT_EQ(installApp(), nullptr);
    EXPECT_EQ(CWinApp::current(), nullptr);
}

TEST(Session, InstallStateValuesAreFixed)
{
    EXPECT_EQ(static_cast<int>(InstallState::NotInstalled), 0);
    EXPECT_EQ(static_cast<int>(InstallState::SameVersion), 1);
    EXPECT_EQ(static_cast<int>(InstallState::OlderVersion), 2);
    EXPECT_EQ(static_cast<int>(InstallState::NewerVersion), -1);
    EXPECT_EQ(sizeof(InstallState), 4u);
}

TEST(Session, GetInstallStateHandsOutTheVersionOnlyForOlderAndNewer)
{
    CInstallApp app;
    app.previousVersionText = L"Trimora 6.03";
    struct {
        InstallState state;
        const wchar_t* text;
    } cases[] = {
        {InstallState::NotInstalled, L"kept"},
        {InstallState::SameVersion, L"kept"},
        {InstallState::OlderVersion, L"Trimora 6.03"},
        {InstallState::NewerVersion, L"Trimora 6.03"},
    };
    for (const auto& c : cases) {
        app.installState = c.state;
        std::wstring text = L"kept";
        EXPECT_EQ(app.getInstallState(&text), c.state);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(app.getInstallState(nullptr), c.state);
    }
}

TEST(Session, ApplicationTitleFollowsTheLanguage)
{
    CInstallApp app;
    setLanguage(0);
    EXPECT_EQ(buildAppTitle(), L"Installeur \u2013 Quorvex 6.04");
    setLanguage(1);
    EXPECT_EQ(buildAppTitle(), L"Installer \u2013 Trimora 6.04");
    refreshAppTitle();
    EXPECT_EQ(app.appName(), L"Installer \u2013 Trimora 6.04");
    setLanguage(2);
    refreshAppTitle();
    EXPECT_EQ(app.appName(), L"Installationsprogramm \u2013 Trimora 6.04");
}

TEST(ProductNames, FrenchAndOtherLanguages)
{
    for (std::uint32_t language : {0u, 1u, 2u, 9u}) {
        setLanguage(language);
        bool french = language == 0;
        SCOPED_TRACE(language);
        EXPECT_EQ(productLabel(false), french ? L"Quorvex 6.04" : L"Trimora 6.04");
        EXPECT_EQ(productLabel(true), french ? L"Quorvex" : L"Trimora");
        EXPECT_EQ(productFolderName(), french ? L"Quorvex 6" : L"Trimora 6");
        EXPECT_EQ(productKeyName(productCode), L"Quorvex 6");
    }
}

TEST(ProductNames, LocalizeReplacesOnlyTheFirstOccurrence)
{
    setLanguage(1);
    std::wstring text = L"Quorvex 6 - Quorvex Examples";
    localizeProductName(text);
    EXPECT_EQ(text, L"Trimora 6 - Quorvex Examples");
    std::wstring other = L"Calvane 3";
    localizeProductName(other);
    EXPECT_EQ(other, L"Calvane 3");

    setLanguage(0);
    std::wstring french = L"Quorvex 6";
    localizeProductName(french);
    EXPECT_EQ(french, L"Quorvex 6");
}

TEST(ProductNames, KeyNameTable)
{
    EXPECT_EQ(productKeyName(517), L"Quorvex 5");
    EXPECT_EQ(productKeyName(518), L"Quorvex 6");
    // Other families answer with one of their own products.
    for (std::uint32_t code : {1u, 259u, 774u, 1023u, 1024u, 1282u, 1284u})
        EXPECT_NO_THROW(productKeyName(code)) << code;
    for (std::uint32_t code : {0u, 260u, 400u, 516u, 519u, 600u, 773u, 1283u}) {
        try {
            productKeyName(code);
            ADD_FAILURE() << code << " matched a product";
        } catch (const std::logic_error& error) {
            EXPECT_STREQ(error.what(), "logic error");
        }
    }
}

TEST(Framework, FormatTextReplacesNumberedMarkers)
{
    EXPECT_EQ(formatText(L"Update from '%1' to '%2'.", {L"Trimora 6.03", L"Trimora 6.04"}),
              L"Update from 'Trimora 6.03' to 'Trimora 6.04'.");
    EXPECT_EQ(formatText(L"%2 %1 %1", {L"a", L"b"}), L"b a a");
    EXPECT_EQ(formatText(L"100% %3 %", {L"a"}), L"100% %3 %");
}

}  // namespace

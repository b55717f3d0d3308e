#include "identity/VersionLabel.h"

#include "identity/Product.h"
#include "lang/Languages.h"

#include <boost/algorithm/string/replace.hpp>

namespace qv {

namespace {

// The installer's own SpecialBuild decides, once, whether this is the German
// edition.
bool isGermanEdition()
{
    static const bool german = VersionInfo::ofSelf().stringValue(L"SpecialBuild") == GermanEditionName;
    return german;
}

}  // namespace

std::wstring displayName(const VersionInfo& info)
{
    std::wstring name = info.productName();
    if (productCode >= 512 && productCode <= 767) {
        std::uint32_t language = currentLanguage().languageIndex;
        if (isGermanEdition() && language == 2)
            boost::algorithm::replace_last(name, L"Quorvex", GermanEditionName);
        else if (language != 0)
            boost::algorithm::replace_last(name, L"Quorvex", L"Trimora");
    }
    return name;
}

std::wstring displayLabel(const VersionInfo& info)
{
    std::wstring label = displayName(info);
    std::wstring version = info.productVersion();
    if (!version.empty()) label += L" " + version;

    DWORD flags = info.fixed() ? (info.fixed()->dwFileFlags & info.fixed()->dwFileFlagsMask) : 0;
    if ((flags & VS_FF_PRERELEASE) &&
        PRIMARYLANGID(langIdOf(currentLanguage().languageIndex)) != LANG_FRENCH)
        boost::algorithm::replace_last(label, L"b\u00eata", L"beta");
    if (flags & VS_FF_PRIVATEBUILD) label += L" \u2013 Private";
    if (flags & VS_FF_DEBUG) label += L" \u2013 Debug";
    return label;
}

}  // namespace qv

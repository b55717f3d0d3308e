#include "engine/InstallTexts.h"

#include "lang/LocalizedStrings.h"
#include "engine/CompressError.h"
#include "sys/TextFormat.h"
#include "resources/resource.h"

#include <windows.h>
#include <shlwapi.h>

#include <cmath>

namespace qv {

std::wstring quoteSpaces(const std::wstring& path)
{
    wchar_t buffer[MAX_PATH] = {};
    ::lstrcpynW(buffer, path.c_str(), MAX_PATH);
    ::PathQuoteSpacesW(buffer);
    return buffer;
}

std::wstring stepOutcomeText(bool ok)
{
    return loadLocalizedString(ok ? IDS_STEP_OK : IDS_STEP_FAILED) + L"\r\n";
}

std::wstring copyingFileText(const std::wstring& destination)
{
    return formatText(loadLocalizedString(IDS_COPYING_FILE), {quoteSpaces(destination)});
}

std::wstring installFailedText(const std::error_code& code)
{
    return installFailedText(errorCodeText(code));
}

std::wstring installFailedText(const std::wstring& errorText)
{
    return formatText(loadLocalizedString(IDS_INSTALL_FAILED), {errorText});
}

std::wstring clickNextText()
{
    return formatText(loadLocalizedString(IDS_CLICK_CONTINUE), {loadLocalizedString(IDS_NEXT)});
}

int progressPercent(std::uint64_t done, std::uint64_t total)
{
    if (total == 0) return 0;
    int percent = static_cast<int>(
        std::floor(static_cast<double>(done) / static_cast<double>(total) * 100.0 + 0.5));
    if (percent >= 100 && done < total) percent = 99;
    return percent;
}

std::wstring fullWidthLine(const std::wstring& text, int availableWidth,
                           const std::function<int(const std::wstring&)>& measure)
{
    std::wstring body = text.empty() ? std::wstring() : L" " + text + L" ";
    int width = availableWidth;
    if (!body.empty()) width -= measure(body);
    const int dash = measure(L"-");
    const int count = dash > 0 && width > 0 ? width / dash : 0;

    std::wstring line;
    if (body.empty()) {
        line.assign(static_cast<std::size_t>(count), L'-');
    } else {
        line.assign(static_cast<std::size_t>(count / 2), L'-');
        line += body;
        line.append(static_cast<std::size_t>((count + 1) / 2), L'-');
    }
    return line + L"\r\n";
}

}  // namespace qv

#include "support/RecordingDisplay.h"

#include "engine/InstallTexts.h"

namespace qv::test {

void RecordingDisplay::AppendLog(const std::wstring& text, bool heading)
{
    if (text.empty() || heading)
        log += fullWidthLine(text, logWidth, [](const std::wstring& s) { return static_cast<int>(s.size()); });
    else
        log += text;
}

void RecordingDisplay::SetStatus(const std::wstring& text)
{
    statuses.push_back(text);
    status = text;
    if (onStatus) onStatus(text);
}

void RecordingDisplay::SetStatusPath(const std::wstring& text)
{
    SetStatus(text);
}

void RecordingDisplay::ResetProgress()
{
    progress.push_back(-1);
    progressShown = true;
}

void RecordingDisplay::SetProgress(int position)
{
    progress.push_back(position);
}

std::vector<std::wstring> RecordingDisplay::lines() const
{
    std::vector<std::wstring> result;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = log.find(L"\r\n", start);
        if (end == std::wstring::npos) {
            if (start < log.size()) result.push_back(log.substr(start));
            return result;
        }
        result.push_back(log.substr(start, end - start));
        start = end + 2;
    }
}

}  // namespace qv::test

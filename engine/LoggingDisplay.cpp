#include "engine/LoggingDisplay.h"

#include "engine/InstallTexts.h"
#include "sys/LogFile.h"

#include <utility>

namespace qv {
namespace {

constexpr std::size_t separatorWidth = 60;

std::wstring withoutLineEnd(std::wstring text)
{
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
    return text;
}

}  // namespace

void LoggingDisplay::flush() noexcept
{
    try {
        writeHeldStatus();
        if (!line_.empty()) log_.write(std::exchange(line_, std::wstring()));
    } catch (...) {
    }
}

void LoggingDisplay::note(const std::wstring& text)
{
    writeHeldStatus();
    log_.write(text);
}

void LoggingDisplay::writeHeldStatus()
{
    if (!status_.empty()) log_.write(L"Status: " + std::exchange(status_, std::wstring()));
}

void LoggingDisplay::holdStatus(const std::wstring& text)
{
    if (text != status_) writeHeldStatus();
    // Without a window there is no Next to click on.
    status_ = !screen_ && text == clickNextText() ? std::wstring() : text;
}

void LoggingDisplay::AppendLog(const std::wstring& text, bool heading)
{
    if (screen_) screen_->AppendLog(text, heading);
    if (status_ == withoutLineEnd(line_ + text)) status_.clear();
    writeHeldStatus();
    if (text.empty() || heading) {
        // The screen centres a heading between dashes across its width; the
        // file has no width of its own.
        if (!line_.empty()) log_.write(std::exchange(line_, std::wstring()));
        log_.write(text.empty() ? std::wstring(separatorWidth, L'-') : L"--- " + text + L" ---");
        return;
    }
    line_ += text;
    for (std::size_t end; (end = line_.find(L"\r\n")) != std::wstring::npos;) {
        log_.write(line_.substr(0, end));
        line_.erase(0, end + 2);
    }
}

void LoggingDisplay::SetStatus(const std::wstring& text)
{
    if (screen_) screen_->SetStatus(text);
    holdStatus(text);
}

void LoggingDisplay::SetStatusPath(const std::wstring& text)
{
    if (screen_) screen_->SetStatusPath(text);
    holdStatus(text);
}

void LoggingDisplay::ResetProgress()
{
    if (screen_) screen_->ResetProgress();
}

void LoggingDisplay::SetProgress(int position)
{
    if (screen_) screen_->SetProgress(position);
}

void LoggingDisplay::PumpMessages()
{
    if (screen_) screen_->PumpMessages();
}

void LoggingDisplay::ShowWaitCursor(bool wait)
{
    if (screen_) screen_->ShowWaitCursor(wait);
}

}  // namespace qv

#include "uninstall/RecoveryMarker.h"

#include "identity/Product.h"
#include "sys/Handles.h"

#include <cwchar>
#include <vector>

namespace qv {
namespace {

// "<decimal version above 1>|": the marker of a later version of the format.
bool isNewerVersion(const std::wstring& text)
{
    const std::size_t bar = text.find(L'|');
    if (bar == 0 || bar == std::wstring::npos || bar > 9) return false;
    std::uint32_t version = 0;
    for (std::size_t i = 0; i < bar; ++i) {
        if (text[i] < L'0' || text[i] > L'9') return false;
        version = version * 10 + static_cast<std::uint32_t>(text[i] - L'0');
    }
    return version > 1;
}

// A marker is a version, two flags, three numbers and a path of at most
// 259 characters: anything longer is no marker of ours.
constexpr DWORD kMaxMarkerBytes = 1024;

bool parseHex(const std::wstring& text, std::size_t digits, std::uint64_t& value)
{
    if (text.size() != digits) return false;
    value = 0;
    for (wchar_t c : text) {
        unsigned d;
        if (c >= L'0' && c <= L'9') d = c - L'0';
        else if (c >= L'a' && c <= L'f') d = c - L'a' + 10;
        else return false;
        value = value << 4 | d;
    }
    return true;
}

bool isEmptyKey(HKEY key)
{
    DWORD subkeys = 0, values = 0;
    return ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                              nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys == 0 && values == 0;
}

}  // namespace

FileIdentity identityOf(const BY_HANDLE_FILE_INFORMATION& info) noexcept
{
    return {info.dwVolumeSerialNumber, (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

std::wstring RecoveryMarker::valueName()
{
    return productKeyName(productCode) + L" Unfinished Run";
}

std::wstring RecoveryMarker::format(const MarkerContent& content)
{
    wchar_t numbers[64];
    std::swprintf(numbers, 64, L"%08x|%016llx|%016llx", static_cast<unsigned>(content.folder.volume),
                  static_cast<unsigned long long>(content.folder.index),
                  static_cast<unsigned long long>(content.journal.index));
    return std::wstring(L"1|") + (content.makerKeyCreated ? L"c" : L"-") + L"|" + numbers + L"|" +
           content.journalPath;
}

std::optional<MarkerContent> RecoveryMarker::parse(const std::wstring& text)
{
    std::vector<std::wstring> fields;
    std::size_t start = 0;
    for (int i = 0; i < 5; ++i) {
        const std::size_t bar = text.find(L'|', start);
        if (bar == std::wstring::npos) return std::nullopt;
        fields.push_back(text.substr(start, bar - start));
        start = bar + 1;
    }
    fields.push_back(text.substr(start));
    if (fields[0] != L"1" || (fields[1] != L"c" && fields[1] != L"-")) return std::nullopt;
    MarkerContent content;
    content.makerKeyCreated = fields[1] == L"c";
    std::uint64_t volume = 0;
    if (!parseHex(fields[2], 8, volume) || !parseHex(fields[3], 16, content.folder.index) ||
        !parseHex(fields[4], 16, content.journal.index))
        return std::nullopt;
    content.folder.volume = content.journal.volume = static_cast<DWORD>(volume);
    content.journalPath = fields[5];
    if (content.journalPath.empty() || content.journalPath.size() >= MAX_PATH ||
        content.journalPath.find(L'|') != std::wstring::npos)
        return std::nullopt;
    return content;
}

bool RecoveryMarker::set(MarkerContent& content) noexcept
{
    try {
        UniqueKey maker;
        DWORD disposition = 0;
        if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, MakerKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, maker.put(), &disposition) != ERROR_SUCCESS)
            return false;
        content.makerKeyCreated = disposition == REG_CREATED_NEW_KEY;
        const std::wstring text = format(content);
        const std::wstring name = valueName();
        if (::RegSetValueExW(maker.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS) {
            maker.reset();
            if (content.makerKeyCreated) clear(true);
            return false;
        }
        // On the disk before the run changes anything.
        return ::RegFlushKey(maker.get()) == ERROR_SUCCESS;
    } catch (...) {
        return false;
    }
}

RecoveryMarker::State RecoveryMarker::read(MarkerContent& content, std::wstring& raw) noexcept
{
    try {
        UniqueKey maker;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, MakerKeyPath, 0, KEY_QUERY_VALUE, maker.put()) != ERROR_SUCCESS)
            return State::None;
        const std::wstring name = valueName();
        DWORD type = 0, size = 0;
        const LONG rc = ::RegQueryValueExW(maker.get(), name.c_str(), nullptr, &type, nullptr, &size);
        if (rc == ERROR_FILE_NOT_FOUND) return State::None;
        if (rc != ERROR_SUCCESS || type != REG_SZ || size > kMaxMarkerBytes || size % sizeof(wchar_t) != 0)
            return State::Unreadable;
        std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
        DWORD got = size;
        if (::RegQueryValueExW(maker.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                               &got) != ERROR_SUCCESS ||
            type != REG_SZ)
            return State::Unreadable;
        raw.assign(text.data(), got / sizeof(wchar_t));
        if (!raw.empty() && raw.back() == L'\0') raw.pop_back();
        std::optional<MarkerContent> parsed = parse(raw);
        if (!parsed) return isNewerVersion(raw) ? State::Newer : State::Unreadable;
        content = std::move(*parsed);
        return State::Found;
    } catch (...) {
        return State::Unreadable;
    }
}

void RecoveryMarker::clear(bool makerKeyCreated) noexcept
{
    try {
        UniqueKey maker;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, MakerKeyPath, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, maker.put()) !=
            ERROR_SUCCESS)
            return;
        ::RegDeleteValueW(maker.get(), valueName().c_str());
        const bool empty = isEmptyKey(maker.get());
        ::RegFlushKey(maker.get());
        maker.reset();
        if (makerKeyCreated && empty) {
            ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, MakerKeyPath);
            UniqueKey software;
            if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_QUERY_VALUE, software.put()) == ERROR_SUCCESS)
                ::RegFlushKey(software.get());
        }
    } catch (...) {
    }
}

}  // namespace qv

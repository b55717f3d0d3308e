#include "sys/KeyContent.h"

#include "sys/Handles.h"

#include <cstdint>

namespace qv {
namespace {

enum : BYTE { SubkeyTag = 1, ValueTag = 2 };
// Registry names are at most 255 characters (values 16383); a deeper path
// than this is no key of ours.
constexpr std::uint32_t kMaxNameUnits = 16383;
constexpr int kMaxDepth = 32;

void putU32(std::vector<BYTE>& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>((v >> (8 * i)) & 0xFF));
}

void putString(std::vector<BYTE>& out, const std::wstring& s)
{
    putU32(out, static_cast<std::uint32_t>(s.size()));
    for (wchar_t c : s) {
        out.push_back(static_cast<BYTE>(c & 0xFF));
        out.push_back(static_cast<BYTE>((c >> 8) & 0xFF));
    }
}

// Appends the values and subkeys of key, their paths below prefix; false
// when something cannot be read or the copy grows too large.
bool saveInto(HKEY key, const std::wstring& prefix, int depth, std::vector<BYTE>& out)
{
    if (depth > kMaxDepth) return false;
    DWORD subkeys = 0, values = 0, longestSubkey = 0, longestName = 0, longestData = 0;
    if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &longestSubkey, nullptr, &values, &longestName,
                           &longestData, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    std::vector<wchar_t> name(longestName + 2);
    std::vector<BYTE> data(longestData + 2);
    for (DWORD i = 0; i < values; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size()), dataSize = static_cast<DWORD>(data.size()), type = 0;
        if (::RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize) !=
            ERROR_SUCCESS)
            return false;
        out.push_back(ValueTag);
        putString(out, prefix);
        putString(out, std::wstring(name.data(), nameLength));
        putU32(out, type);
        putU32(out, dataSize);
        out.insert(out.end(), data.begin(), data.begin() + dataSize);
        if (out.size() > kMaxKeyContentBytes) return false;
    }
    std::vector<wchar_t> subkey(longestSubkey + 2);
    for (DWORD i = 0; i < subkeys; ++i) {
        DWORD length = static_cast<DWORD>(subkey.size());
        if (::RegEnumKeyExW(key, i, subkey.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return false;
        const std::wstring child(subkey.data(), length);
        const std::wstring path = prefix.empty() ? child : prefix + L"\\" + child;
        out.push_back(SubkeyTag);
        putString(out, path);
        UniqueKey opened;
        if (::RegOpenKeyExW(key, child.c_str(), 0, KEY_READ, opened.put()) != ERROR_SUCCESS) return false;
        if (!saveInto(opened.get(), path, depth + 1, out)) return false;
    }
    return out.size() <= kMaxKeyContentBytes;
}

struct Item {
    BYTE tag = 0;
    std::wstring path;
    std::wstring name;
    DWORD type = 0;
    std::vector<BYTE> data;
};

class Reader {
public:
    explicit Reader(const std::vector<BYTE>& bytes) : bytes_(bytes) {}
    bool atEnd() const { return pos_ == bytes_.size(); }
    bool u8(BYTE& v)
    {
        if (bytes_.size() - pos_ < 1) return false;
        v = bytes_[pos_++];
        return true;
    }
    bool u32(std::uint32_t& v)
    {
        if (bytes_.size() - pos_ < 4) return false;
        v = 0;
        for (int i = 3; i >= 0; --i) v = (v << 8) | bytes_[pos_ + i];
        pos_ += 4;
        return true;
    }
    bool string(std::wstring& s)
    {
        std::uint32_t units = 0;
        if (!u32(units) || units > kMaxNameUnits * 4 || units > (bytes_.size() - pos_) / 2) return false;
        s.resize(units);
        for (std::uint32_t i = 0; i < units; ++i)
            s[i] = static_cast<wchar_t>(bytes_[pos_ + 2 * i] | bytes_[pos_ + 2 * i + 1] << 8);
        pos_ += 2 * units;
        return true;
    }
    bool block(std::vector<BYTE>& b)
    {
        std::uint32_t count = 0;
        if (!u32(count) || count > bytes_.size() - pos_) return false;
        b.assign(bytes_.begin() + pos_, bytes_.begin() + pos_ + count);
        pos_ += count;
        return true;
    }

private:
    const std::vector<BYTE>& bytes_;
    std::size_t pos_ = 0;
};

// A subkey path below the key: no empty element, no way up.
bool isRelativeKeyPath(const std::wstring& path)
{
    if (path.empty() || path.front() == L'\\' || path.back() == L'\\') return false;
    return path.find(L"\\\\") == std::wstring::npos;
}

}  // namespace

std::optional<std::vector<BYTE>> saveKeyContent(HKEY key) noexcept
{
    try {
        std::vector<BYTE> out;
        if (!saveInto(key, L"", 0, out)) return std::nullopt;
        return out;
    } catch (...) {
        return std::nullopt;
    }
}

bool restoreKeyContent(HKEY parent, const std::wstring& name, const std::vector<BYTE>& content) noexcept
{
    try {
        // Read whole first: damaged bytes change nothing.
        std::vector<Item> items;
        Reader in(content);
        while (!in.atEnd()) {
            Item item;
            if (!in.u8(item.tag) || !in.string(item.path)) return false;
            if (item.tag == ValueTag) {
                std::uint32_t type = 0;
                if (!in.string(item.name) || !in.u32(type) || !in.block(item.data)) return false;
                item.type = type;
                if (!item.path.empty() && !isRelativeKeyPath(item.path)) return false;
            } else if (item.tag != SubkeyTag || !isRelativeKeyPath(item.path)) {
                return false;
            }
            items.push_back(std::move(item));
        }

        const LONG deleted = ::RegDeleteTreeW(parent, name.c_str());
        if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) return false;
        UniqueKey key;
        if (::RegCreateKeyExW(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                              key.put(), nullptr) != ERROR_SUCCESS)
            return false;
        bool ok = true;
        for (const Item& item : items) {
            UniqueKey target;
            if (!item.path.empty()) {
                if (::RegCreateKeyExW(key.get(), item.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      KEY_ALL_ACCESS, nullptr, target.put(), nullptr) != ERROR_SUCCESS) {
                    ok = false;
                    continue;
                }
            }
            if (item.tag != ValueTag) continue;
            const HKEY into = item.path.empty() ? key.get() : target.get();
            ok &= ::RegSetValueExW(into, item.name.c_str(), 0, item.type, item.data.data(),
                                   static_cast<DWORD>(item.data.size())) == ERROR_SUCCESS;
        }
        return ok;
    } catch (...) {
        return false;
    }
}

}  // namespace qv

#include "sys/TextFormat.h"

namespace qv {

std::wstring formatText(std::wstring_view pattern, std::initializer_list<std::wstring_view> args)
{
    std::wstring out;
    out.reserve(pattern.size());
    for (size_t i = 0; i < pattern.size(); ++i) {
        wchar_t c = pattern[i];
        if (c != L'%' || i + 1 == pattern.size()) {
            out += c;
            continue;
        }
        wchar_t next = pattern[i + 1];
        if (next >= L'1' && next <= L'9' && static_cast<size_t>(next - L'1') < args.size()) {
            out += *(args.begin() + (next - L'1'));
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace qv

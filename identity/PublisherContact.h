#pragma once
// The publisher's contact, shown in the Windows list of installed programs
// and in the About box. One place, so that both always agree.

namespace qv {

inline constexpr wchar_t kPublisherName[] = L"Orvane Systems";
// A reserved example domain and a number from the range kept for fiction.
inline constexpr wchar_t kPublisherWebAddress[] = L"https://www.orvane.example/";
inline constexpr wchar_t kPublisherTelephone[] = L"+1 202 555 0147";

}  // namespace qv

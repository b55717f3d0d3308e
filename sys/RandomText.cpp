#include "sys/RandomText.h"

#include <boost/uuid/random_generator.hpp>

namespace qv {

std::wstring randomHexDigits(std::size_t count)
{
    // The generator reads BCryptGenRandom; opened once per process.
    static boost::uuids::random_generator generator;
    static constexpr wchar_t digits[] = L"0123456789abcdef";
    std::wstring text;
    text.reserve(count);
    while (text.size() < count) {
        const boost::uuids::uuid value = generator();
        for (std::size_t i = 0; i < value.size(); ++i) {
            // Bytes 6 and 8 carry the UUID's version and variant bits.
            if (i == 6 || i == 8) continue;
            const std::uint8_t byte = value.data[i];
            if (text.size() < count) text += digits[byte >> 4];
            if (text.size() < count) text += digits[byte & 0x0F];
        }
    }
    return text;
}

}  // namespace qv

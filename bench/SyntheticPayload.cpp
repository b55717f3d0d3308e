#include "bench/SyntheticPayload.h"

#include <algorithm>

namespace qv::bench {
namespace {

std::uint32_t nextRandom(std::uint32_t& x)
{
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
}

std::uint32_t seeded(std::uint32_t seed)
{
    std::uint32_t x = seed * 2654435761u + 0x9E3779B9u;
    return x ? x : 1;
}

// 10,000 pseudo-words; the text draws them with a skew towards the first
// ones, which bzip2 -9 packs about 3:1.
constexpr std::uint32_t vocabularySize = 10000;

const std::vector<std::string>& vocabulary()
{
    static const std::vector<std::string> words = [] {
        std::vector<std::string> w;
        std::uint32_t r = seeded(12345);
        for (std::uint32_t i = 0; i < vocabularySize; ++i) {
            std::string word(2 + nextRandom(r) % 9, ' ');
            for (char& c : word) c = static_cast<char>('a' + nextRandom(r) % 26);
            w.push_back(word);
        }
        return w;
    }();
    return words;
}

}  // namespace

TextSource::TextSource(std::uint32_t seed, std::uint64_t size) : random_(seeded(seed)), left_(size) {}

std::size_t TextSource::read(char* out, std::size_t n)
{
    std::size_t done = 0;
    while (done < n && left_ > 0) {
        if (pos_ == pending_.size()) refill();
        std::size_t take = std::min<std::uint64_t>({n - done, pending_.size() - pos_, left_});
        std::copy_n(pending_.data() + pos_, take, out + done);
        pos_ += take;
        done += take;
        left_ -= take;
    }
    return done;
}

void TextSource::refill()
{
    const auto& words = vocabulary();
    std::uint32_t a = nextRandom(random_), b = nextRandom(random_);
    pending_ = words[std::min(a % vocabularySize, b % vocabularySize)];
    std::uint32_t c = nextRandom(random_) % 16;
    pending_ += c < 13 ? " " : c < 15 ? ", " : ".\r\n";
    pos_ = 0;
}

std::vector<PlannedFile> plannedFiles(std::uint64_t scale)
{
    using K = EntryKind;
    std::vector<PlannedFile> files;
    const wchar_t* languages[] = {L"en", L"fr", L"de", L"it", L"es", L"nl", L"pt",
                                  L"da", L"sv", L"fi", L"ja", L"zh", L"ko"};
    for (int i = 0; i < 13; ++i)
        files.push_back({std::wstring(L"QvLang_") + languages[i] + L".dll", L"<InstallPath>\\Lang",
                         K::LanguageLibrary, i == 1 ? 0u : 380000u});
    files.push_back({L"Quorvex.exe", L"<InstallPath>", K::ProgramFile, 6180000});
    files.push_back({L"Uninstall.exe", L"<InstallPath>", K::UninstallerFile, 420000});
    const std::uint64_t data[] = {1200000, 900000, 650000, 400000, 210000};
    const wchar_t* dataNames[] = {L"Units.qvd", L"Symbols.qvd", L"Styles.qvd", L"Fonts.qvd", L"Palette.qvd"};
    for (int i = 0; i < 5; ++i)
        files.push_back({dataNames[i], L"<CommonData>\\Orvane Systems\\Quorvex", K::DataFile, data[i]});
    files.push_back({L"User.qvd", L"<UserData>\\Orvane Systems\\Quorvex", K::DataFile, 95000});
    const std::uint64_t samples[] = {420000, 380000, 310000, 260000, 210000, 158621};
    const wchar_t* sampleNames[] = {L"Bridge.qvs", L"Gear.qvs", L"Roof.qvs", L"Pump.qvs", L"Frame.qvs", L"Tank.qvs"};
    for (int i = 0; i < 6; ++i) files.push_back({sampleNames[i], L"<SamplePath>", K::SampleFile, samples[i]});
    for (auto& f : files) f.size *= scale;
    return files;
}

}  // namespace qv::bench

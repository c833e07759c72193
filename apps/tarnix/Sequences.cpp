// Numbered files: their pattern, and which of them are present.
#include <algorithm>
#include <filesystem>

#include "apps/tarnix/Media.h"
#include "apps/tarnix/MediaParts.h"

namespace tarnix {

using media::parseInteger;

std::string SequencePattern::fileName(int64_t number) const {
    std::string digits = std::to_string(number);
    if (int(digits.size()) < width) digits.insert(0, size_t(width) - digits.size(), '0');
    return prefix + digits + suffix;
}

std::string SequencePattern::path(int64_t number) const {
    if (directory.empty()) return fileName(number);
    return directory.back() == '/' ? directory + fileName(number) : directory + "/" + fileName(number);
}

std::vector<int64_t> SequencePattern::present() const {
    std::vector<int64_t> numbers;
    std::error_code error;
    // A folder that cannot be listed holds none of them.
    for (auto it = std::filesystem::directory_iterator(directory.empty() ? "." : directory, error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
        if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
        if (digits.size() > 18) continue;
        const int64_t n = *parseInteger(digits);
        if (fileName(n) == name) numbers.push_back(n);
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

std::optional<SequencePattern> parseSequencePattern(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t percent = name.find('%');
    if (percent == std::string::npos) return std::nullopt;
    size_t i = percent + 1;
    int width = 0;
    if (i < name.size() && name[i] == '0') ++i;
    while (i < name.size() && name[i] >= '1' && name[i] <= '9' && width < 10) width = width * 10 + (name[i++] - '0');
    if (i >= name.size() || name[i] != 'd') return std::nullopt;
    SequencePattern p;
    p.directory = slash == std::string::npos ? "" : path.substr(0, slash == 0 ? 1 : slash);
    p.prefix = name.substr(0, percent);
    p.suffix = name.substr(i + 1);
    p.width = width;
    if (p.suffix.find('%') != std::string::npos) return std::nullopt;
    return p;
}

}  // namespace tarnix

#include "apps/tarnix/MediaParts.h"

#include <cctype>
#include <charconv>
#include <filesystem>
#include <map>

namespace tarnix::media {

std::string lowerCase(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string extensionOf(const std::string& path) {
    const std::string extension = std::filesystem::path(path).extension().string();
    return extension.empty() ? "" : lowerCase(extension.substr(1));
}

std::string baseName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

std::optional<int64_t> parseInteger(const std::string& text) {
    int64_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return v;
}

std::vector<std::string> sequenceInputArgs(const SourceInfo& source, const std::optional<Rational>& rate) {
    std::vector<std::string> args;
    if (!source.sequence) return args;
    if (rate) args.insert(args.end(), {"-framerate", rate->text()});
    args.insert(args.end(), {"-start_number", std::to_string(source.sequenceStart)});
    return args;
}

std::string scalerMatrix(const std::string& space) {
    static const std::map<std::string, std::string> names = {
        {"bt709", "bt709"}, {"smpte170m", "smpte170m"}, {"bt470bg", "bt470"},
        {"bt2020nc", "bt2020"}, {"fcc", "fcc"}, {"smpte240m", "smpte240m"}};
    auto it = names.find(space);
    return it == names.end() ? "" : it->second;
}

}  // namespace tarnix::media

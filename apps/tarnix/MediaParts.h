// Small pieces the media files share: names of paths, numbers in ffprobe's text, the
// arguments that read an image sequence, the scaler's names of the YUV matrices.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "apps/tarnix/Media.h"

namespace tarnix::media {

std::string lowerCase(std::string s);
// "clip.MP4" -> "mp4"; "" when the file name has no dot.
std::string extensionOf(const std::string& path);
std::string baseName(const std::string& path);
std::optional<int64_t> parseInteger(const std::string& text);
std::vector<std::string> sequenceInputArgs(const SourceInfo& source, const std::optional<Rational>& rate);
// ffmpeg's scaler names the matrices differently from its tags; "" for one it has no name for.
std::string scalerMatrix(const std::string& space);

}  // namespace tarnix::media

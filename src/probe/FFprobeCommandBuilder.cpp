#include "probe/FFprobeCommandBuilder.h"

namespace tavrolin {

namespace {

std::vector<std::string> arguments(const std::string& entries, const std::filesystem::path& file) {
    // absolute() only prefixes the working directory; it never rewrites the name itself.
    const std::filesystem::path path = file.is_absolute() ? file : std::filesystem::absolute(file);
    return {"-v", "error", "-show_entries", entries, "-of", "json", path.native()};
}

}  // namespace

const std::string FFprobeCommandBuilder::streamEntries =
    "stream=index,codec_type,codec_name,codec_long_name,profile,level,pix_fmt,color_transfer,"
    "color_primaries,color_space,codec_tag_string,width,height,has_b_frames,channels,"
    "channel_layout,"
    "sample_rate:"
    "stream_tags=language,title,rotate:stream_side_data=rotation:"
    "stream_disposition=default,forced";

// A trimmed start hides whole groups of pictures at most, which begin the file: what its first
// packets show is enough.
const std::vector<std::string> FFprobeCommandBuilder::hiddenStartArguments = {
    "-read_intervals", "%+#64", "-show_entries", "packet=stream_index,pts_time,flags"};

std::vector<std::string> FFprobeCommandBuilder::streamArguments(
    const std::filesystem::path& file, const std::string& moreEntries) const {
    auto command =
        arguments(moreEntries.empty() ? streamEntries : streamEntries + ":" + moreEntries, file);
    command.insert(command.begin() + 2, hiddenStartArguments.begin(), hiddenStartArguments.end());
    return command;
}

std::vector<std::string> FFprobeCommandBuilder::chapterArguments(
    const std::filesystem::path& file) const {
    return arguments("chapter=start_time:chapter_tags=title", file);
}

std::vector<std::string> FFprobeCommandBuilder::durationArguments(
    const std::filesystem::path& file) const {
    return arguments("format=duration:stream=duration", file);
}

}  // namespace tavrolin

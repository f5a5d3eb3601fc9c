// A Matroska or WebM file's packets read from the file itself, against what the real ffprobe
// shows of the same file.
#include <gtest/gtest.h>


#include "engine/FFmpegProcessor.h"
#include "engine/split/PartPacketIndex.h"
#include "process/FoundationProcessRunner.h"
#include "support/PacketIndexChecks.h"
#include "support/SplitCaseMedia.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

// The reader's packets of `file`'s first video (or audio) stream are ffprobe's, or it reads none.
void expectAsFFprobe(const fs::path& file, bool video, bool reads) {
    SCOPED_TRACE(video ? "video" : "audio");
    const auto read = readMatroskaPacketIndex(file, video);
    ASSERT_EQ(read.has_value(), reads);
    if (!read) {
        return;
    }
    tavtest::expectAsProbed(*read, file, video);
}

}  // namespace

TEST(PartPacketIndex, MatroskaReadsAsFFprobeShowsIt) {
    using tavtest::SplitCase;
    const auto made = [](const std::string& name, const std::string& streams) {
        std::vector<std::string> arguments{"-f", "lavfi", "-i", "testsrc2=s=96x64:r=25:d=3",
                                           "-f", "lavfi", "-i", "sine=f=440:sample_rate=44100:d=3"};
        std::istringstream words(streams);
        arguments.insert(arguments.end(), std::istream_iterator<std::string>(words), {});
        return tavtest::TestMedia::generate(name, arguments);
    };
    tavtest::TempDir scratch;
    const fs::path font = scratch.path() / "font.ttf";
    std::ofstream(font) << "not really a font";
    const fs::path notes = scratch.path() / "notes.mkv";
    std::ofstream(notes) << "1\n00:00:01,000 --> 00:00:02,000\nhello\n";
    const fs::path cutShort = scratch.path() / "short.mkv";
    fs::copy_file(tavtest::splitCaseFile(SplitCase::beepsOpusMatroska), cutShort);
    fs::resize_file(cutShort, fs::file_size(cutShort) * 3 / 5);

    struct Row {
        fs::path file;
        bool video;  // the reader reads the first video stream; else none
        bool audio;
    };
    std::vector<Row> rows = {
        // H.264 with B-frames, AAC, AC-3, two subtitle streams, chapters.
        {tavtest::TestMedia::shared().matroska, true, true},
        // H.264 with B-frames or VP9, and Opus (its delay, padding dropped at the end).
        {tavtest::splitCaseFile(SplitCase::beepsOpusMatroska), true, true},
        {tavtest::splitCaseFile(SplitCase::beepsOpusWebm), true, true},
        {tavtest::splitCaseFile(SplitCase::opusWebm), true, true},
        {tavtest::splitCaseFile(SplitCase::opusMatroska), true, true},
        {tavtest::splitCaseFile(SplitCase::vfr), true, true},
        {made("index-mp3.mkv", "-c:v libx264 -bf 0 -c:a libmp3lame -attach " + font.string() +
                                   " -metadata:s:t mimetype=application/x-truetype-font"),
         true, true},
        {made("index-ac3.mkv", "-c:v libx264 -c:a ac3"), true, true},
        {made("index-flac.mkv", "-c:v libx264 -c:a flac"), true, true},
        // Vorbis frames are sized by its setup header, which the reader does not follow.
        {made("index-vorbis.webm", "-c:v libvpx-vp9 -deadline realtime -cpu-used 8 -c:a libvorbis"),
         true, false},
        {made("index-audio.mka", "-map 1 -c:a libopus"), false, true},
        // Cut off, not Matroska at all.
        {cutShort, false, false},
        {tavtest::TestMedia::shared().truncated, false, false},
        {tavtest::TestMedia::shared().randomBytes, false, false},
        {tavtest::TestMedia::shared().mp4ClipA, false, false},
        {notes, false, false},
    };
    // The app's own parts: from the start, from the middle and to the end.
    FFmpegProcessor processor(std::make_shared<FoundationProcessRunner>(), ToolLocations{});
    // At keyframes (Opus's delay puts the beeps' pictures 7 ms in); the others whole.
    const double begin = -std::numeric_limits<double>::infinity();
    const std::pair<fs::path, std::vector<std::optional<double>>> splits[] = {
        {tavtest::splitCaseFile(SplitCase::beepsOpusMatroska), {begin, 4.007, 7.007, {}}},
        {tavtest::splitCaseFile(SplitCase::beepsOpusWebm), {begin, 4.007, 7.007, {}}},
        {tavtest::splitCaseFile(SplitCase::vfr), {begin, {}}},
        {tavtest::TestMedia::shared().matroska, {begin, {}}}};
    for (const auto& [source, cuts] : splits) {
        for (std::size_t at = 0; at + 1 < cuts.size(); ++at) {
            const fs::path part = scratch.path() / (source.stem().string() + std::to_string(at) +
                                                    source.extension().string());
            processor.process(SplitRequest{source, part, *cuts[at], cuts[at + 1]}, {}, {});
            rows.push_back({part, true, true});
        }
    }
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file.filename());
        expectAsFFprobe(row.file, true, row.video);
        expectAsFFprobe(row.file, false, row.audio);
    }
}

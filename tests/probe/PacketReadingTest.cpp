// The in-process packet reader against ffprobe's own report of the same files: every packet,
// every stream's time base and the format's times, from the start and after a seek.
#include "probe/PacketReading.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "model/CancellationError.h"
#include "probe/EbmlNumber.h"
#include "probe/PacketReadError.h"
#include "probe/PacketReports.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream split(text);
    for (std::string word; split >> word;) {
        words.push_back(word);
    }
    return words;
}

fs::path made(const std::string& name, const std::string& arguments) {
    return tavtest::TestMedia::generate(name, words(arguments));
}

const std::string kPictures = "-f lavfi -i testsrc2=s=96x64:r=25:d=2 ";
const std::string kTone = "-f lavfi -i sine=f=440:d=2 ";
const std::string kBFrames = " -c:v libx264 -preset veryfast -bf 2 -g 12 ";

fs::path written(const std::string& name, const std::string& text) {
    const fs::path file = tavtest::TestMedia::shared().folder / name;
    std::ofstream(file) << text;
    return file;
}

fs::path mkvmerged(const std::string& name, const std::vector<fs::path>& inputs) {
    const fs::path out = tavtest::TestMedia::shared().folder / name;
    std::vector<std::string> command{"mkvmerge", "-q", "-o", out.string()};
    for (const auto& input : inputs) {
        command.push_back(input.string());
    }
    // 1 is mkvmerge's "written, with warnings".
    EXPECT_LE(tavtest::runTool(command), 1);
    return out;
}

// A copy of `file` whose clusters all state an unknown size, as a live writer leaves them.
fs::path withUnknownClusterSizes(const fs::path& file, const std::string& name) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    int clusters = 0;
    for (std::size_t at = 0; at < bytes.size();) {
        const auto [id, idLength] = readEbmlNumber(std::span(bytes).subspan(at), true).value();
        const std::size_t sizeAt = at + idLength;
        const auto [size, sizeLength] =
            readEbmlNumber(std::span(bytes).subspan(sizeAt), false).value();
        if (id == 0x1F43B675) {
            bytes[sizeAt] = static_cast<std::uint8_t>(0xFF >> (sizeLength - 1));
            std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(sizeAt + 1), sizeLength - 1,
                        0xFF);
            ++clusters;
        }
        // Into the segment; past the EBML header and the segment's children.
        at = sizeAt + sizeLength + (id == 0x18538067 ? 0 : size);
    }
    EXPECT_GT(clusters, 0);
    const fs::path out = tavtest::TestMedia::shared().folder / name;
    std::ofstream(out, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return out;
}

std::string ffprobe(const std::string& arguments, const fs::path& file) {
    auto command = words("ffprobe -v error " + arguments);
    command.push_back(file.string());
    std::string text;
    EXPECT_EQ(tavtest::runTool(command, &text), 0);
    return text;
}

// A field of ffprobe's JSON, none when absent or "N/A"; numbers are sometimes written as text.
std::optional<std::int64_t> integerIn(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || *found == "N/A") {
        return std::nullopt;
    }
    return found->is_string() ? std::stoll(found->get<std::string>()) : found->get<std::int64_t>();
}

std::optional<double> secondsIn(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || *found == "N/A") {
        return std::nullopt;
    }
    return std::stod(found->get<std::string>());
}

std::string ratio(TimeBase base) {
    return std::to_string(base.num) + "/" + std::to_string(base.den);
}

// Tags in key order, as the JSON report holds them.
PacketTags sorted(PacketTags tags) {
    std::sort(tags.begin(), tags.end());
    return tags;
}

PacketTags tagsIn(const nlohmann::json& object) {
    PacketTags tags;
    const auto shown = object.value("tags", nlohmann::json::object());
    for (const auto& [key, value] : shown.items()) {
        tags.emplace_back(key, value.get<std::string>());
    }
    return tags;
}

void expectSeconds(const std::optional<double>& read, const std::optional<double>& shown) {
    ASSERT_EQ(read.has_value(), shown.has_value());
    if (read) {
        EXPECT_NEAR(*read, *shown, 1e-6);
    }
}

struct Read {
    PacketFormat format;
    std::vector<ReadPacket> packets;
    std::string damage;
};

Read readAll(const fs::path& file, bool generateTimes = false,
             std::optional<double> from = std::nullopt) {
    const auto reader = openPacketReader(file, PacketReadOptions{generateTimes});
    if (from) {
        reader->seek(*from);
    }
    Read read{reader->format(), {}, {}};
    const auto keep = [&read](const ReadPacket& packet) {
        read.packets.push_back(packet);
        return true;
    };
    read.damage = reader->read(keep, {}).damage;
    return read;
}

// What `ffprobe -show_packets -show_format -show_streams` reports of `file` (read from `from`
// on, when given) equals what the reader reads.
void expectAsFFprobeShows(const fs::path& file, bool generateTimes, std::optional<double> from) {
    const std::string arguments =
        std::string(generateTimes ? "-fflags +genpts " : "") +
        (from ? "-read_intervals " + std::to_string(*from) + "% " : "") +
        "-show_packets -show_format -show_streams -show_chapters -of json";
    const auto shown = nlohmann::json::parse(ffprobe(arguments, file));
    const Read read = readAll(file, generateTimes, from);
    EXPECT_EQ(read.damage, "");

    const auto& streams = shown.at("streams");
    ASSERT_EQ(read.format.streams.size(), streams.size());
    for (std::size_t at = 0; at < streams.size(); ++at) {
        const PacketStream& stream = read.format.streams[at];
        EXPECT_EQ(stream.index, streams[at].at("index").get<int>());
        EXPECT_EQ(stream.codecType, streams[at].value("codec_type", std::string("unknown")));
        EXPECT_EQ(stream.codecName, streams[at].value("codec_name", std::string("none")));
        EXPECT_EQ(stream.attachedPicture,
                  streams[at].at("disposition").value("attached_pic", 0) == 1);
        EXPECT_EQ(ratio(stream.timeBase), streams[at].at("time_base").get<std::string>());
        EXPECT_EQ(stream.codecTag, streams[at].at("codec_tag_string").get<std::string>());
        EXPECT_EQ(stream.sampleRate, integerIn(streams[at], "sample_rate").value_or(0));
        EXPECT_EQ(ratio(stream.frameRate), streams[at].at("r_frame_rate").get<std::string>());
        EXPECT_EQ(sorted(stream.tags), tagsIn(streams[at]));
    }
    const auto chapters = shown.value("chapters", nlohmann::json::array());
    ASSERT_EQ(read.format.chapters.size(), chapters.size());
    for (std::size_t at = 0; at < chapters.size(); ++at) {
        const PacketChapter& chapter = read.format.chapters[at];
        expectSeconds(secondsOf(chapter.start, chapter.timeBase),
                      secondsIn(chapters[at], "start_time"));
        expectSeconds(secondsOf(chapter.end, chapter.timeBase),
                      secondsIn(chapters[at], "end_time"));
        EXPECT_EQ(sorted(chapter.tags), tagsIn(chapters[at]));
    }

    const auto packets = shown.value("packets", nlohmann::json::array());
    ASSERT_FALSE(packets.empty());
    ASSERT_EQ(read.packets.size(), packets.size());
    for (std::size_t at = 0; at < packets.size(); ++at) {
        SCOPED_TRACE("packet " + std::to_string(at));
        const ReadPacket& packet = read.packets[at];
        const auto& expected = packets[at];
        ASSERT_EQ(packet.stream, expected.at("stream_index").get<int>());
        EXPECT_EQ(packet.pts, integerIn(expected, "pts"));
        EXPECT_EQ(packet.dts, integerIn(expected, "dts"));
        EXPECT_EQ(packet.duration, integerIn(expected, "duration").value_or(0));
        EXPECT_EQ(packet.size, integerIn(expected, "size"));
        EXPECT_EQ(packet.position, integerIn(expected, "pos"));
        const std::string flags = expected.at("flags");
        EXPECT_EQ(packet.keyframe, flags.find('K') != std::string::npos);
        EXPECT_EQ(packet.discard, flags.find('D') != std::string::npos);
        std::int64_t endTrim = 0;
        for (const auto& data : expected.value("side_data_list", nlohmann::json::array())) {
            endTrim += data.value("discard_padding", std::int64_t{0});
        }
        EXPECT_EQ(packet.endTrim, endTrim);
        const TimeBase base = read.format.streams.at(packet.stream).timeBase;
        expectSeconds(secondsOf(packet.pts, base), secondsIn(expected, "pts_time"));
    }
    const auto& format = shown.at("format");
    expectSeconds(secondsOfMicroseconds(read.format.startMicroseconds),
                  secondsIn(format, "start_time"));
    expectSeconds(secondsOfMicroseconds(read.format.durationMicroseconds),
                  secondsIn(format, "duration"));
    EXPECT_EQ(read.format.name, format.at("format_name").get<std::string>());
    EXPECT_EQ(read.format.bitRate, integerIn(format, "bit_rate").value_or(0));
}

// The reports the keyframe and join reads take are ffprobe's own, letter for letter (the join's
// JSON field by field, checksums included).
void expectReportsAsFFprobeWrites(const fs::path& file) {
    const std::string video =
        "-select_streams v:0 -show_entries packet=pts_time,dts_time,duration_time,size,flags:"
        "stream=codec_name,has_b_frames:format=duration -of csv=p=0";
    EXPECT_EQ(firstVideoPacketLines(file, false, {}), ffprobe(video, file));
    EXPECT_EQ(firstVideoPacketLines(file, true, {}), ffprobe("-fflags +genpts " + video, file));
    EXPECT_EQ(firstAudioPacketTimes(file, {}),
              ffprobe("-select_streams a:0 -show_entries packet=pts_time -of csv=p=0", file));
    for (const auto& [interval, from, count] :
         {std::tuple{std::string("%+#64"), std::optional<double>(), 64},
          std::tuple{std::string("1%"), std::optional<double>(1.0), 0}}) {
        SCOPED_TRACE(interval);
        auto shown = nlohmann::json::parse(
            ffprobe("-read_intervals " + interval +
                        " -show_data_hash CRC32 -show_entries stream=index,codec_type:"
                        "stream_disposition=attached_pic:"
                        "packet=stream_index,pts_time,duration_time,data_hash -of json",
                    file));
        // Not in the join's report.
        shown.erase("programs");
        for (auto& packet : shown.at("packets")) {
            packet.erase("side_data_list");
        }
        ASSERT_FALSE(shown.at("packets").empty());
        const auto diff = nlohmann::json::diff(checksummedPackets(file, from, count, {}), shown);
        EXPECT_TRUE(diff.empty()) << diff.size() << " differences, the first "
                                  << (diff.empty() ? nlohmann::json() : diff.front());
    }
}

}  // namespace

TEST(PacketReading, ReadsEveryPacketAsFFprobeShowsIt) {
    const fs::path mp4 =
        made("pr-bframes.mp4", kPictures + kTone + kBFrames + "-c:a aac -shortest");
    const fs::path mp3 = made("pr-tone.mp3", kTone + "-c:a libmp3lame");
    const fs::path cues = written("pr-cues.srt",
                                  "1\n00:00:00,500 --> 00:00:01,000\nHello\n\n"
                                  "2\n00:00:01,200 --> 00:00:01,800\nAgain\n");
    const fs::path mkv = made(
        "pr-cues.mkv", "-i " + mp4.string() + " -i " + cues.string() + " -map 0 -map 1 -c copy");
    struct Row {
        std::string name;
        fs::path file;
        bool generateTimes = false;
        bool reports = false;  // also the reports written as ffprobe writes them
    };
    const std::vector<Row> rows{
        {"MP4, B-frames and AAC's edit list", mp4, false, true},
        {"MOV, negative composition offsets",
         made("pr-negative.mov",
              kPictures + kTone + kBFrames + "-c:a aac -movflags +negative_cts_offsets")},
        {"M4A", made("pr-tone.m4a", kTone + "-c:a aac"), false, true},
        {"MP4 cut between keyframes: an edit list",
         made("pr-edit.mp4", "-ss 0.5 -i " + mp4.string() + " -c copy")},
        {"fragmented MP4",
         made("pr-fragments.mp4",
              "-i " + mp4.string() +
                  " -c copy -movflags frag_keyframe+empty_moov+default_base_moof")},
        {"MKV with subtitle BlockGroups", mkv},
        {"MKV by mkvmerge: laced audio", mkvmerged("pr-merged.mkv", {mp4, mp3, cues})},
        {"MKA, laced", mkvmerged("pr-merged.mka", {mp3})},
        {"MKV, clusters of unknown size", withUnknownClusterSizes(mkv, "pr-unknown.mkv")},
        {"WebM",
         made("pr-vp8.webm",
              kPictures + kTone + "-c:v libvpx -deadline realtime -cpu-used 8 -c:a libopus")},
        {"TS", made("pr-stream.ts", "-i " + mp4.string() + " -c copy")},
        {"MPEG-PS", made("pr-program.mpg", kPictures + kTone + "-c:v mpeg2video -c:a mp2 -f vob"),
         true},
        {"AVI, packed B-frames",
         made("pr-packed.avi", kPictures + kTone + "-c:v mpeg4 -bf 2 -c:a libmp3lame"), true, true},
        {"Ogg", made("pr-tone.ogg", kTone + "-c:a libopus")},
        {"MKV with chapters, AC-3 and two kinds of subtitles",
         tavtest::TestMedia::shared().matroska},
        {"MKV with cover art and a font",
         made("pr-attached.mkv", "-i " + mp4.string() + " -map 0 -c copy -attach " +
                                     made("pr-cover.png", kPictures + "-frames:v 1").string() +
                                     " -metadata:s:2 mimetype=image/png -attach " +
                                     written("pr-font.ttf", "glyphs").string() +
                                     " -metadata:s:3 mimetype=application/x-truetype-font")},
        {"MOV with chapters and a timecode",
         made("pr-timecode.mov",
              kPictures + "-i " +
                  written("pr-chapters.txt",
                          ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\n"
                          "title=One\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2000\n")
                      .string() +
                  " -map 0 -map_chapters 1 -timecode 01:00:00:00" + kBFrames)},
        {"MKV, Opus whose end trims part of a frame",
         made("pr-trimmed.mkv", "-f lavfi -i sine=f=440:d=2.013 -c:a libopus")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        expectAsFFprobeShows(row.file, row.generateTimes, std::nullopt);
        if (row.reports) {
            expectReportsAsFFprobeWrites(row.file);
        }
        SCOPED_TRACE("from 1 s");
        expectAsFFprobeShows(row.file, row.generateTimes, 1.0);
    }
}

// A file that is not media, or is cut short, is a failed read naming its folder; a visitor that
// has enough stops the read, and a stop request ends it before the next packet.
TEST(PacketReading, FailsOnWhatItCannotReadAndStopsWhenAsked) {
    tavtest::TempDir folder;
    const fs::path mkv = made("pr-whole.mkv", kPictures + kTone + kBFrames + "-c:a aac");
    const fs::path mp4 = made("pr-whole.mp4", kPictures + kTone + kBFrames + "-c:a aac");
    const auto firstHalf = [&](const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        std::string half(fs::file_size(file) / 2, '\0');
        in.read(half.data(), static_cast<std::streamsize>(half.size()));
        const fs::path cut = folder / ("cut" + file.extension().string());
        std::ofstream(cut, std::ios::binary) << half;
        return cut;
    };
    std::ofstream(folder / "text.mkv") << "not a film\n";

    // Cut short after its header: the packets before the cut, then the damage.
    const Read cut = readAll(firstHalf(mkv));
    EXPECT_GT(cut.packets.size(), 10u);
    EXPECT_NE(cut.damage, "");

    struct Row {
        std::string name;
        fs::path file;
        PacketReadError::Case expected;
    };
    const std::vector<Row> rows{
        {"MP4 cut before its index", firstHalf(mp4), PacketReadError::Case::cannotOpen},
        {"not media", folder / "text.mkv", PacketReadError::Case::cannotOpen},
        {"missing", folder / "gone.mkv", PacketReadError::Case::readFailed},
        {"a folder", folder.path(), PacketReadError::Case::cannotOpen},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        try {
            openPacketReader(row.file);
            ADD_FAILURE() << "opened";
        } catch (const PacketReadError& error) {
            EXPECT_EQ(error.errorCase(), row.expected);
            EXPECT_NE(std::string(error.what()).find(folder.path().filename().string()),
                      std::string::npos)
                << error.what();
        }
    }

    const auto whole = openPacketReader(mkv);
    int packets = 0;
    const auto three = [&packets](const ReadPacket&) { return ++packets < 3; };
    EXPECT_TRUE(whole->read(three, {}).stoppedEarly);
    EXPECT_EQ(packets, 3);
    std::stop_source stop;
    const auto stopping = [&stop](const ReadPacket&) {
        stop.request_stop();
        return true;
    };
    EXPECT_THROW(whole->read(stopping, stop.get_token()), CancellationError);
}

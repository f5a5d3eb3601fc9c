// The in-process packet reader against ffprobe's own report of the same files: every packet,
// every stream's time base and the format's times, from the start and after a seek.
#include "probe/PacketReading.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "model/CancellationError.h"
#include "probe/PacketReadError.h"
#include "probe/PacketReports.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

fs::path made(const std::string& name, const std::string& arguments) {
    std::vector<std::string> words;
    std::istringstream split(arguments);
    for (std::string word; split >> word;) {
        words.push_back(word);
    }
    return tavtest::TestMedia::generate(name, words);
}

const std::string kPictures = "-f lavfi -i testsrc2=s=96x64:r=25:d=2 ";
const std::string kTone = "-f lavfi -i sine=f=440:d=2 ";
const std::string kBFrames = " -c:v libx264 -preset veryfast -bf 2 -g 12 ";

fs::path subtitles() {
    const fs::path file = tavtest::TestMedia::shared().folder / "pr-cues.srt";
    std::ofstream(file) << "1\n00:00:00,500 --> 00:00:01,000\nHello\n\n"
                           "2\n00:00:01,200 --> 00:00:01,800\nAgain\n";
    return file;
}

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
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(bytes.at(at)); };
    const auto vintLength = [&](std::size_t at) {
        std::size_t length = 1;
        while (length <= 8 && (byte(at) & (0x80 >> (length - 1))) == 0) {
            ++length;
        }
        return length;
    };
    const auto vintValue = [&](std::size_t at, std::size_t length) {
        std::uint64_t value = byte(at) & (0xFF >> length);
        for (std::size_t more = 1; more < length; ++more) {
            value = (value << 8) | byte(at + more);
        }
        return value;
    };
    // The EBML header, then the segment's children.
    std::size_t at = vintLength(0);
    at += vintLength(at) + vintValue(at, vintLength(at));
    at += vintLength(at);  // the segment's ID
    at += vintLength(at);  // its size
    int clusters = 0;
    while (at < bytes.size()) {
        const std::size_t idLength = vintLength(at);
        const bool cluster = bytes.compare(at, 4, "\x1F\x43\xB6\x75") == 0;
        const std::size_t sizeAt = at + idLength;
        const std::size_t sizeLength = vintLength(sizeAt);
        const std::uint64_t size = vintValue(sizeAt, sizeLength);
        if (cluster) {
            bytes[sizeAt] = static_cast<char>(0xFF >> (sizeLength - 1));
            for (std::size_t more = 1; more < sizeLength; ++more) {
                bytes[sizeAt + more] = static_cast<char>(0xFF);
            }
            ++clusters;
        }
        at = sizeAt + sizeLength + size;
    }
    EXPECT_GT(clusters, 0);
    const fs::path out = tavtest::TestMedia::shared().folder / name;
    std::ofstream(out, std::ios::binary) << bytes;
    return out;
}

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

Read readAll(const fs::path& file, bool generateTimes, std::optional<double> from) {
    const auto reader = openPacketReader(file, PacketReadOptions{generateTimes});
    if (from) {
        reader->seek(*from);
    }
    Read read{reader->format(), {}, {}};
    read.damage = reader
                      ->read(
                          [&read](const ReadPacket& packet) {
                              read.packets.push_back(packet);
                              return true;
                          },
                          {})
                      .damage;
    return read;
}

// What `ffprobe -show_packets -show_format -show_streams` reports of `file` (read from `from`
// on, when given) equals what the reader reads.
void expectAsFFprobeShows(const fs::path& file, bool generateTimes, std::optional<double> from) {
    std::vector<std::string> command{"ffprobe", "-v", "error"};
    if (generateTimes) {
        command.insert(command.end(), {"-fflags", "+genpts"});
    }
    if (from) {
        command.insert(command.end(), {"-read_intervals", std::to_string(*from) + "%"});
    }
    command.insert(command.end(), {"-show_packets", "-show_format", "-show_streams",
                                   "-show_chapters", "-of", "json", file.string()});
    std::string text;
    ASSERT_EQ(tavtest::runTool(command, &text), 0);
    const auto shown = nlohmann::json::parse(text);
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

}  // namespace

TEST(PacketReading, ReadsEveryPacketAsFFprobeShowsIt) {
    const fs::path mp4 =
        made("pr-bframes.mp4", kPictures + kTone + kBFrames + "-c:a aac -shortest");
    const fs::path mp3 = made("pr-tone.mp3", kTone + "-c:a libmp3lame");
    const fs::path mkv = made("pr-cues.mkv", "-i " + mp4.string() + " -i " + subtitles().string() +
                                                 " -map 0 -map 1 -c copy");
    struct Row {
        std::string name;
        fs::path file;
        bool generateTimes = false;
    };
    const std::vector<Row> rows{
        {"MP4, B-frames and AAC's edit list", mp4},
        {"MOV, negative composition offsets",
         made("pr-negative.mov",
              kPictures + kTone + kBFrames + "-c:a aac -movflags +negative_cts_offsets")},
        {"M4A", made("pr-tone.m4a", kTone + "-c:a aac")},
        {"MP4 cut between keyframes: an edit list",
         made("pr-edit.mp4", "-ss 0.5 -i " + mp4.string() + " -c copy")},
        {"fragmented MP4",
         made("pr-fragments.mp4",
              "-i " + mp4.string() +
                  " -c copy -movflags frag_keyframe+empty_moov+default_base_moof")},
        {"MKV with subtitle BlockGroups", mkv},
        {"MKV by mkvmerge: laced audio", mkvmerged("pr-merged.mkv", {mp4, mp3, subtitles()})},
        {"MKA, laced", mkvmerged("pr-merged.mka", {mp3})},
        {"MKV, clusters of unknown size", withUnknownClusterSizes(mkv, "pr-unknown.mkv")},
        {"WebM",
         made("pr-vp8.webm",
              kPictures + kTone + "-c:v libvpx -deadline realtime -cpu-used 8 -c:a libopus")},
        {"TS", made("pr-stream.ts", "-i " + mp4.string() + " -c copy")},
        {"MPEG-PS", made("pr-program.mpg", kPictures + kTone + "-c:v mpeg2video -c:a mp2 -f vob"),
         true},
        {"AVI, packed B-frames",
         made("pr-packed.avi", kPictures + kTone + "-c:v mpeg4 -bf 2 -c:a libmp3lame"), true},
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
    const auto cutMkv = openPacketReader(firstHalf(mkv));
    int packets = 0;
    const auto end = cutMkv->read(
        [&packets](const ReadPacket&) {
            ++packets;
            return true;
        },
        {});
    EXPECT_GT(packets, 10);
    EXPECT_NE(end.damage, "");

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
    packets = 0;
    EXPECT_TRUE(whole
                    ->read(
                        [&packets](const ReadPacket&) {
                            ++packets;
                            return packets < 3;
                        },
                        {})
                    .stoppedEarly);
    EXPECT_EQ(packets, 3);
    std::stop_source stop;
    EXPECT_THROW(whole->read(
                     [&stop](const ReadPacket&) {
                         stop.request_stop();
                         return true;
                     },
                     stop.get_token()),
                 CancellationError);
}

// The reports the keyframe and join reads take are ffprobe's own, letter for letter (the join's
// JSON field by field, checksums included).
TEST(PacketReading, WritesTheReportsFFprobeWrites) {
    const fs::path mp4 =
        made("pr-bframes.mp4", kPictures + kTone + kBFrames + "-c:a aac -shortest");
    const fs::path avi =
        made("pr-packed.avi", kPictures + kTone + "-c:v mpeg4 -bf 2 -c:a libmp3lame");
    const fs::path m4a = made("pr-tone.m4a", kTone + "-c:a aac");
    const auto ffprobe = [](std::vector<std::string> arguments, const fs::path& file) {
        arguments.insert(arguments.begin(), {"ffprobe", "-v", "error"});
        arguments.push_back(file.string());
        std::string text;
        EXPECT_EQ(tavtest::runTool(arguments, &text), 0);
        return text;
    };
    const std::vector<std::string> video{
        "-select_streams",
        "v:0",
        "-show_entries",
        "packet=pts_time,dts_time,duration_time,size,flags:stream=codec_name,has_b_frames:"
        "format=duration",
        "-of",
        "csv=p=0"};
    auto generated = video;
    generated.insert(generated.begin(), {"-fflags", "+genpts"});
    for (const fs::path& file : {mp4, avi, m4a}) {
        SCOPED_TRACE(file.filename().string());
        EXPECT_EQ(firstVideoPacketLines(file, false, {}), ffprobe(video, file));
        EXPECT_EQ(firstVideoPacketLines(file, true, {}), ffprobe(generated, file));
        EXPECT_EQ(firstAudioPacketTimes(file, {}),
                  ffprobe({"-select_streams", "a:0", "-show_entries", "packet=pts_time", "-of",
                           "csv=p=0"},
                          file));
        for (const auto& [interval, from, count] :
             {std::tuple{std::string("%+#64"), std::optional<double>(), 64},
              std::tuple{std::string("1%"), std::optional<double>(1.0), 0}}) {
            SCOPED_TRACE(interval);
            const auto shown = nlohmann::json::parse(
                ffprobe({"-read_intervals", interval, "-show_data_hash", "CRC32", "-show_entries",
                         "stream=index,codec_type:stream_disposition=attached_pic:"
                         "packet=stream_index,pts_time,duration_time,data_hash",
                         "-of", "json"},
                        file));
            const auto read = checksummedPackets(file, from, count, {});
            ASSERT_EQ(read.at("streams").size(), shown.at("streams").size());
            for (std::size_t at = 0; at < shown.at("streams").size(); ++at) {
                const auto& stream = shown.at("streams")[at];
                EXPECT_EQ(read.at("streams")[at].at("codec_type"), stream.at("codec_type"));
                EXPECT_EQ(read.at("streams")[at].at("disposition").at("attached_pic"),
                          stream.at("disposition").at("attached_pic"));
            }
            const auto& packets = shown.at("packets");
            ASSERT_FALSE(packets.empty());
            ASSERT_EQ(read.at("packets").size(), packets.size());
            for (std::size_t at = 0; at < packets.size(); ++at) {
                for (const char* key : {"stream_index", "pts_time", "duration_time", "data_hash"}) {
                    EXPECT_EQ(read.at("packets")[at].value(key, nlohmann::json()),
                              packets[at].value(key, nlohmann::json()))
                        << key << " of packet " << at;
                }
            }
        }
    }
}

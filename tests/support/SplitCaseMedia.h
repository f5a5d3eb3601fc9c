#pragma once

#include <filesystem>

namespace tavtest {

// The split cases users met, each made by ffmpeg alone, once per test process, in the shared
// test-media folder. Times below are the Split page's (from the first frame shown).
enum class SplitCase {
    // H.264 in MKV, 1/1000 time base: frames 0-99 at 25 fps, a 1 s jump, 100-199 at 50 fps,
    // 200-249 at 10 fps; a keyframe every 40 frames; AAC. Range 5.5-9.0 is frames 120..199.
    vfr,
    // A broadcast recording: MPEG-2 interlaced, open GOP 12 with 2 B-frames, AC-3 "deu"; its
    // 33-bit clock rolls over 42 s in. Point 20: part 1 has 490 frames (the cut keyframe's two
    // leading pictures go), part 2 1,008.
    broadcast,
    // 10 s of LAME MP3 at 192 kb/s with a Xing/LAME header, a chirp in the left channel.
    mp3,
    // Three hours of 32 kb/s mono LAME MP3 (about 43 MB): only for tests that need its length.
    mp3Long,
    // Half an hour of it, made the same way: what a test run can afford.
    mp3HalfHour,
    // MPEG-4 Part 2 with packed B-frames in AVI (as DivX and Xvid write it), GOP 50, and MP3.
    packedAvi,
    // VP9 + Opus (a chirp) in WebM, and the same streams copied into MKV.
    opusWebm,
    opusMatroska,
    // H.264 without B-frames (nothing reordered) and MP3 in AVI.
    avi264,
    // An MP4 whose edit list hides its first frames: a stream copy of a 12 s H.264 + AAC file
    // cut 2.2 s in (it shows from 2.2 s of the base; the keyframe before is at 2.0 s).
    trimmedMp4,
    // Sources with a 1 kHz beep at every whole second, each a kind of file a split once got
    // wrong: MPEG-1 video (open GOP 12, two B-frames) and MP2 in an MPEG-1 program stream (.mpg);
    // two Vorbis streams one after the other in one Ogg file (6 s, then 8 s); one picture (a
    // title card) over 10 s of AAC in MP4; two M2TS recordings of 5 s one after the other, the
    // second's clock 85 s ahead (a capture that skipped); H.264 + FLAC in MP4.
    mpeg1Program,
    chainedOgg,
    onePicture,
    clockJump,
    flacMp4,
    // 10 s each with a 1 kHz beep of 40 ms at every whole second over a quiet hum (so that sound
    // can be placed against pictures), 25 fps pictures with a keyframe every second: H.264 + AAC
    // and H.264 + AC-3 in MP4, H.264 + Opus in MKV, VP9 + Opus in WebM and in MP4; and the
    // sound alone as LAME MP3 (44.1 kHz) and Vorbis in Ogg; VP9 + Vorbis in WebM.
    beepsAac,
    beepsAc3,
    beepsOpusMatroska,
    beepsOpusWebm,
    beepsVp9Mp4,
    beepsMp3,
    beepsVorbis,
    beepsVorbisWebm,
    // The same beeps as files people join again after a split: AAC alone in M4A and in MOV,
    // E-AC-3 alone in MOV, AC-3 alone in MP4, Opus alone in Ogg (also in 60 ms frames, as voice
    // recorders write it); H.264 with FLAC and with AC-3 in MKV, whose sound runs past a part's
    // last picture.
    beepsAacM4a,
    beepsAacMov,
    beepsEac3Mov,
    beepsAc3Alone,
    beepsOpusOgg,
    beepsOpusOgg60,
    beepsFlacMatroska,
    beepsAc3Matroska,
    // Files people have, with the beep at every whole second: a DVD title (MPEG-2 + AC-3 with
    // the navigation stream every VOB carries, 20 s); a TV recording whose PIDs and program
    // change 5 s in while its clock runs on; 20 s of Opus alone in MKA written by mkvmerge (its
    // CodecDelay and SeekPreRoll); an H.264 + AAC MP4 trimmed in an editor, whose video edit
    // list plays [0, 4 s) and [6 s, 10 s) of its media; H.264 + MP3 in AVI, 12 s.
    dvdTitle,
    programChange,
    mkvmergeOpus,
    editedMp4,
    aviMp3,
};

// The case's source file, made on first use; a failure to make it fails the calling test.
std::filesystem::path splitCaseFile(SplitCase which);

}  // namespace tavtest

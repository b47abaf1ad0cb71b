#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio/audio_format.h"
#include "platform/audio/channel_map.h"
#include "platform/audio/pcm_buffer.h"
#include "platform/storage/file_identity.h"

namespace kestio::platform::audio {

class AudioDecoder;
class CafWriter;

// An audio file, read through FFmpeg or written as CAF.
//
// Reading opens any file FFmpeg can decode that has a sound track: wav, aiff/aif, caf, flac,
// mp3, m4a and the sound of video files (the first or "best" audio stream); only regular files,
// in the formats ffmpeg::openGuardedInput admits (platform/ffmpeg/guarded_input.h), and never a
// list that names other files. Frames are counted from the first sample the encoder meant to be
// heard (MP3 and AAC encoder delay and end padding are removed); in a video file, from the
// container's start, so that the sound keeps its offset from the pictures. framePosition() is
// exact: a seek decodes from before the target and drops the samples before it.
//
// A file can be read through a channel selection: it then reads as one channel per entry of the
// selection, each carrying the source channel the entry names (-1: silence), so that a
// six-channel file reads as its first two channels, or a mono file as two equal channels.
//
// Writing makes a CAF file of 32-bit float or 16-bit integer samples and appends buffers; the
// file can be opened for reading while it is still being written.
//
// An AudioFile is used by one thread at a time.
class AudioFile {
  public:
    enum class SampleEncoding { Float32, Int16 };

    // Null when the file cannot be opened or has no sound; `error` then says why.
    static std::shared_ptr<AudioFile> openForReading(const std::filesystem::path& path,
                                                     std::string* error = nullptr);
    // The same, read through `selection` (one entry per channel read; an empty selection reads
    // the file's own channels). Null also when the selection is longer than
    // AudioFormat::kMaxChannels or names a channel the file does not have.
    static std::shared_ptr<AudioFile> openForReading(const std::filesystem::path& path,
                                                     const ChannelMap& selection,
                                                     std::string* error = nullptr);
    // Chooses the selection from the file's channel count and whether it holds pictures too.
    using SelectionRule = std::function<ChannelMap(uint32_t sourceChannels, bool containsVideo)>;
    // The same, read through the selection `rule` gives once the file is open (one open where
    // the selection depends on the file).
    static std::shared_ptr<AudioFile> openForReading(const std::filesystem::path& path,
                                                     const SelectionRule& rule,
                                                     std::string* error = nullptr);
    // Creates (or replaces) a CAF file with `format`'s rate and channel count. Null on
    // failure; `error` then says why.
    static std::shared_ptr<AudioFile> openForWriting(
        const std::filesystem::path& path, const AudioFormat& format,
        SampleEncoding encoding = SampleEncoding::Float32, std::string* error = nullptr);

    ~AudioFile();
    AudioFile(const AudioFile&) = delete;
    AudioFile& operator=(const AudioFile&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The state of the file when it was opened for reading (none for a written file): what this
    // reader reads is that state's, and no other's.
    const std::optional<FileIdentity>& identity() const { return identity_; }
    bool isWritable() const { return writer_ != nullptr; }
    // Whether the file also holds pictures (a video file).
    bool containsVideo() const { return containsVideo_; }
    // Non-interleaved float at the file's rate and channel count (the selection's, when read
    // through one).
    AudioFormat processingFormat() const { return format_; }
    // The channel count of the file itself.
    uint32_t sourceChannelCount() const { return sourceChannels_; }
    // The channel selection reads go through (empty: none).
    const ChannelMap& channelSelection() const { return selection_; }
    // Another reader of the same file (also of one being written) with the same selection,
    // for a second thread. It reads the file as it is now, which may have changed since this
    // reader was opened (see identity()).
    std::shared_ptr<AudioFile> openAnotherReader(std::string* error = nullptr) const;
    // Frames in the file (for a file being written: frames written so far).
    int64_t length() const;

    // The frame the next read starts at. Setting it beyond the end makes reads return nothing.
    int64_t framePosition() const { return position_; }
    void setFramePosition(int64_t frame);

    // Reads up to `frames` frames (at most the buffer's capacity) from framePosition() into
    // `buffer`, which must have the processing format's rate and channel count and be
    // non-interleaved. Sets its frame length to the frames read: fewer at the end of the file,
    // 0 past it. False on a decoding error or a wrong buffer.
    bool read(PcmBuffer& buffer, uint32_t frames, std::string* error = nullptr);
    // Appends the buffer's frames (interleaved or not, same rate and channel count).
    bool write(const PcmBuffer& buffer, std::string* error = nullptr);
    // Finishes a written file (also done on destruction).
    void close();

  private:
    AudioFile() = default;

    std::filesystem::path path_;
    std::optional<FileIdentity> identity_;
    AudioFormat format_;
    uint32_t sourceChannels_ = 0;
    ChannelMap selection_;
    std::vector<std::vector<float>> sourcePlanes_;  // decoded channels before the selection
    bool containsVideo_ = false;
    int64_t position_ = 0;
    std::unique_ptr<AudioDecoder> decoder_;
    std::unique_ptr<CafWriter> writer_;
};

}  // namespace kestio::platform::audio

#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio/audio_file.h"
#include "platform/ffmpeg/ffmpeg_handles.h"

namespace kestio::platform::audio {

// Writes a CAF file of interleaved PCM through FFmpeg's CAF muxer. Every write reaches the
// file at once, so the file can be read while it grows; finish() writes the final sizes.
class CafWriter {
  public:
    static std::unique_ptr<CafWriter> create(const std::filesystem::path& path,
                                             const AudioFormat& format,
                                             AudioFile::SampleEncoding encoding,
                                             std::string& error);
    ~CafWriter();

    bool write(const PcmBuffer& buffer, std::string& error);
    bool finish(std::string& error);
    int64_t frames() const { return frames_; }

  private:
    CafWriter() = default;

    ffmpeg::OutputFormatPtr context_;
    ffmpeg::PacketPtr packet_;
    AudioFormat format_;
    AudioFile::SampleEncoding encoding_ = AudioFile::SampleEncoding::Float32;
    int64_t frames_ = 0;
    bool finished_ = true;  // until the header is written
};

}  // namespace kestio::platform::audio

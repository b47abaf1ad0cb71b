#include "platform/audio/audio_file.h"

#include <algorithm>

#include "platform/audio/audio_decoder.h"
#include "platform/audio/caf_writer.h"

namespace kestio::platform::audio {

namespace {
void setError(std::string* out, std::string text) {
    if (out != nullptr) {
        *out = std::move(text);
    }
}
}  // namespace

std::shared_ptr<AudioFile> AudioFile::openForReading(const std::filesystem::path& path,
                                                     std::string* error) {
    return openForReading(path, ChannelMap{}, error);
}

std::shared_ptr<AudioFile> AudioFile::openForReading(const std::filesystem::path& path,
                                                     const ChannelMap& selection,
                                                     std::string* error) {
    if (selection.size() > AudioFormat::kMaxChannels) {
        setError(error, "the channel selection has more channels than a stream can carry");
        return nullptr;
    }
    return openForReading(
        path, [&selection](uint32_t, bool) { return selection; }, error);
}

std::shared_ptr<AudioFile> AudioFile::openForReading(const std::filesystem::path& path,
                                                     const SelectionRule& rule,
                                                     std::string* error) {
    std::string why;
    // Taken before the open, so that a change during it reads as a change afterwards.
    auto identity = FileIdentity::of(path);
    auto decoder = AudioDecoder::open(path, why);
    if (!decoder) {
        setError(error, why);
        return nullptr;
    }
    const uint32_t sourceChannels = decoder->format().channelCount;
    const ChannelMap selection = rule(sourceChannels, decoder->containsVideo());
    if (selection.size() > AudioFormat::kMaxChannels) {
        setError(error, "the channel selection has more channels than a stream can carry");
        return nullptr;
    }
    for (const int source : selection) {
        if (source >= int(sourceChannels) || source < -1) {
            setError(error, "the channel selection names channel " + std::to_string(source + 1) +
                                " of a file with " + std::to_string(sourceChannels));
            return nullptr;
        }
    }
    std::shared_ptr<AudioFile> file(new AudioFile());
    file->path_ = path;
    file->format_ = decoder->format();
    file->sourceChannels_ = sourceChannels;
    if (!selection.empty()) {
        file->selection_ = selection;
        file->format_.channelCount = uint32_t(selection.size());
        file->sourcePlanes_.resize(sourceChannels);
    }
    file->identity_ = std::move(identity);
    file->containsVideo_ = decoder->containsVideo();
    file->decoder_ = std::move(decoder);
    return file;
}

std::shared_ptr<AudioFile> AudioFile::openAnotherReader(std::string* error) const {
    return openForReading(path_, selection_, error);
}

std::shared_ptr<AudioFile> AudioFile::openForWriting(const std::filesystem::path& path,
                                                     const AudioFormat& format,
                                                     SampleEncoding encoding, std::string* error) {
    std::string why;
    auto writer = CafWriter::create(path, format, encoding, why);
    if (!writer) {
        setError(error, why);
        return nullptr;
    }
    std::shared_ptr<AudioFile> file(new AudioFile());
    file->path_ = path;
    file->format_ = AudioFormat{format.sampleRate, format.channelCount, false};
    file->sourceChannels_ = format.channelCount;
    file->writer_ = std::move(writer);
    return file;
}

AudioFile::~AudioFile() = default;

int64_t AudioFile::length() const {
    if (decoder_) {
        return decoder_->length();
    }
    return writer_ ? writer_->frames() : 0;
}

void AudioFile::setFramePosition(int64_t frame) {
    position_ = std::max<int64_t>(frame, 0);
}

bool AudioFile::read(PcmBuffer& buffer, uint32_t frames, std::string* error) {
    buffer.setFrameLength(0);
    if (!decoder_) {
        setError(error, "the file is not open for reading");
        return false;
    }
    if (buffer.format().interleaved || !buffer.format().sameStream(format_)) {
        setError(error, "the buffer is not in the file's processing format");
        return false;
    }
    frames = std::min(frames, buffer.frameCapacity());
    std::string why;
    int64_t got = 0;
    if (selection_.empty()) {
        got = decoder_->read(position_, buffer.channels(), frames, why);
    } else {
        std::vector<float*> planes;
        planes.reserve(sourcePlanes_.size());
        for (auto& plane : sourcePlanes_) {
            plane.resize(frames);
            planes.push_back(plane.data());
        }
        got = decoder_->read(position_, planes.data(), frames, why);
        if (got > 0) {
            applyChannelMap(selection_.data(), uint32_t(selection_.size()), planes.data(),
                            sourceChannels_, buffer.channels(), uint32_t(got));
        }
    }
    if (got < 0) {
        setError(error, why);
        return false;
    }
    buffer.setFrameLength(uint32_t(got));
    position_ += got;
    return true;
}

bool AudioFile::write(const PcmBuffer& buffer, std::string* error) {
    if (!writer_) {
        setError(error, "the file is not open for writing");
        return false;
    }
    std::string why;
    if (!writer_->write(buffer, why)) {
        setError(error, why);
        return false;
    }
    position_ = writer_->frames();
    return true;
}

void AudioFile::close() {
    if (writer_) {
        std::string ignored;
        writer_->finish(ignored);
    }
}

}  // namespace kestio::platform::audio

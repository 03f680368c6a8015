// FLAC files decoded with libFLAC, one frame at a time: a read decodes the frames it covers,
// seeking first unless it goes on from the last frame decoded. What is held is that frame (at
// most 65535 samples) and libFLAC's own buffers, whatever the file's size.
#include "flac_file.h"

#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

#include "image_error.h"

namespace disc_image {
namespace {

constexpr unsigned kChannels = 2;
constexpr unsigned kBitsPerSample = 16;
constexpr unsigned kSampleRate = 44100;
constexpr std::uint64_t kBytesPerSample = kChannels * kBitsPerSample / 8;

class DecodedFlac final : public FlacFile {
public:
    DecodedFlac() : decoder_(FLAC__stream_decoder_new()) {}
    ~DecodedFlac() override {
        if (decoder_ != nullptr) FLAC__stream_decoder_delete(decoder_);
    }
    DecodedFlac(const DecodedFlac&) = delete;
    DecodedFlac& operator=(const DecodedFlac&) = delete;

    std::optional<std::string> start(const std::filesystem::path& path);
    std::uint64_t size() const override { return info_.total_samples * kBytesPerSample; }
    std::size_t read(std::uint64_t offset, std::span<std::uint8_t> out) override;

private:
    // Decodes the frame from sample on (seeking there), or with no sample the frame after the
    // one held. False when it cannot be had whole, the file being damaged there.
    bool decode(std::optional<std::uint64_t> sample);

    static FLAC__StreamDecoderWriteStatus on_frame(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                   const FLAC__int32* const channels[], void* self);
    static void on_metadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* block, void* self);
    static void on_error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* self);

    FLAC__StreamDecoder* decoder_;
    FLAC__StreamMetadata_StreamInfo info_{};
    bool info_seen_ = false;
    bool damaged_ = false;               // libFLAC reported an error since the last decode began
    std::vector<std::uint8_t> frame_;    // the frame held, as bytes; empty when none is
    std::uint64_t frame_sample_ = 0;     // its first sample
};

FLAC__StreamDecoderWriteStatus DecodedFlac::on_frame(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                     const FLAC__int32* const channels[], void* self) {
    auto& file = *static_cast<DecodedFlac*>(self);
    const FLAC__FrameHeader& header = frame->header;
    if (header.channels != kChannels || header.bits_per_sample != kBitsPerSample ||
        header.number_type != FLAC__FRAME_NUMBER_TYPE_SAMPLE_NUMBER) {
        file.damaged_ = true;
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }
    file.frame_sample_ = header.number.sample_number;
    file.frame_.resize(header.blocksize * kBytesPerSample);
    std::uint8_t* out = file.frame_.data();
    for (unsigned i = 0; i < header.blocksize; ++i)
        for (unsigned channel = 0; channel < kChannels; ++channel) {
            const auto sample = static_cast<std::uint16_t>(channels[channel][i]);
            *out++ = static_cast<std::uint8_t>(sample);
            *out++ = static_cast<std::uint8_t>(sample >> 8);
        }
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void DecodedFlac::on_metadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* block, void* self) {
    auto& file = *static_cast<DecodedFlac*>(self);
    if (block->type != FLAC__METADATA_TYPE_STREAMINFO) return;
    file.info_ = block->data.stream_info;
    file.info_seen_ = true;
}

void DecodedFlac::on_error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* self) {
    static_cast<DecodedFlac*>(self)->damaged_ = true;
}

std::optional<std::string> DecodedFlac::start(const std::filesystem::path& path) {
    if (decoder_ == nullptr) return std::string("cannot be decoded: out of memory");
    if (FLAC__stream_decoder_init_file(decoder_, path.c_str(), on_frame, on_metadata, on_error, this) !=
        FLAC__STREAM_DECODER_INIT_STATUS_OK)
        return std::string("cannot be opened for decoding");
    if (!FLAC__stream_decoder_process_until_end_of_metadata(decoder_) || !info_seen_)
        return std::string("is not a FLAC file");
    if (info_.channels != kChannels || info_.bits_per_sample != kBitsPerSample || info_.sample_rate != kSampleRate)
        return join({"holds ", std::to_string(info_.channels), " channels of ", std::to_string(info_.bits_per_sample),
                     " bits at ", std::to_string(info_.sample_rate), " Hz, not 16-bit stereo at 44100 Hz"});
    if (info_.total_samples == 0) return std::string("does not say how many samples it holds");
    // A file cut short loses its last frames; the first is where reading begins.
    std::array<std::uint8_t, kBytesPerSample> sample{};
    if (read(size() - kBytesPerSample, sample) != sample.size())
        return std::string("does not decode to its end: it is damaged or cut short");
    if (read(0, sample) != sample.size()) return std::string("does not decode at its start: it is damaged");
    return std::nullopt;
}

bool DecodedFlac::decode(std::optional<std::uint64_t> sample) {
    const std::uint64_t expected = sample ? *sample : frame_sample_ + frame_.size() / kBytesPerSample;
    frame_.clear();
    damaged_ = false;
    const bool done = sample ? FLAC__stream_decoder_seek_absolute(decoder_, *sample) != 0
                             : FLAC__stream_decoder_process_single(decoder_) != 0;
    if (done && !damaged_ && !frame_.empty() && frame_sample_ == expected) return true;
    // Whatever was decoded does not go on from the frame before: the next read seeks. A failed
    // seek leaves the decoder to be flushed.
    frame_.clear();
    FLAC__stream_decoder_flush(decoder_);
    return false;
}

std::size_t DecodedFlac::read(std::uint64_t offset, std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        const std::uint64_t at = offset + done, begin = frame_sample_ * kBytesPerSample, end = begin + frame_.size();
        if (!frame_.empty() && at >= begin && at < end) {
            const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(end - at, out.size() - done));
            std::memcpy(out.data() + done, frame_.data() + (at - begin), count);
            done += count;
        } else if (!decode(!frame_.empty() && at == end ? std::nullopt : std::optional(at / kBytesPerSample))) {
            break;
        }
    }
    return done;
}

}  // namespace

std::variant<std::unique_ptr<FlacFile>, std::string> FlacFile::open(const std::filesystem::path& path) {
    auto file = std::make_unique<DecodedFlac>();
    if (auto failed = file->start(path)) return *failed;
    return std::unique_ptr<FlacFile>(std::move(file));
}

}  // namespace disc_image

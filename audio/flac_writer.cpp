#include "audio/flac_writer.h"

#if ZARNIK_FLAC

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <array>
#include <climits>

struct FlacWriter::Encoder {
  OutputFiles* files = nullptr;
  FILE* stream = nullptr;
  bool seekable = false;
  bool write_failed = false;
  uint64_t position = 0;  // where the next byte goes, for the encoder's tell
  FLAC__StreamEncoder* flac = nullptr;
  FLAC__StreamMetadata* comments = nullptr;
  // 16-bit samples widened for the encoder, a block at a time: no
  // allocation while encoding.
  std::array<FLAC__int32, 2 * 4096> wide{};

  ~Encoder() {
    if (flac != nullptr) FLAC__stream_encoder_delete(flac);
    if (comments != nullptr) FLAC__metadata_object_delete(comments);
  }

  static FLAC__StreamEncoderWriteStatus on_write(const FLAC__StreamEncoder*,
                                                 const FLAC__byte buffer[], size_t bytes,
                                                 uint32_t, uint32_t, void* data) {
    auto* self = static_cast<Encoder*>(data);
    if (self->files->write(self->stream, buffer, bytes) != bytes) {
      self->write_failed = true;
      return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
    self->position += bytes;
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
  }

  static FLAC__StreamEncoderSeekStatus on_seek(const FLAC__StreamEncoder*,
                                               FLAC__uint64 offset, void* data) {
    auto* self = static_cast<Encoder*>(data);
    if (!self->seekable) return FLAC__STREAM_ENCODER_SEEK_STATUS_UNSUPPORTED;
    if (offset > LONG_MAX ||
        !self->files->seek(self->stream, static_cast<long>(offset))) {
      self->write_failed = true;
      return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
    }
    self->position = offset;
    return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
  }

  static FLAC__StreamEncoderTellStatus on_tell(const FLAC__StreamEncoder*,
                                               FLAC__uint64* offset, void* data) {
    auto* self = static_cast<Encoder*>(data);
    if (!self->seekable) return FLAC__STREAM_ENCODER_TELL_STATUS_UNSUPPORTED;
    *offset = self->position;
    return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
  }
};

namespace {

bool add_comment(FLAC__StreamMetadata* comments, const char* name,
                 const std::string& value) {
  if (value.empty()) return true;
  FLAC__StreamMetadata_VorbisComment_Entry entry;
  return FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, name,
                                                                        value.c_str()) &&
         FLAC__metadata_object_vorbiscomment_append_comment(comments, entry, false);
}

}  // namespace

bool flac_supported() {
  return true;
}

FlacWriter::FlacWriter(OutputFiles& files) : files_(files) {}
FlacWriter::~FlacWriter() = default;

bool FlacWriter::begin(FILE* stream, uint32_t sample_rate, const FlacTags& tags,
                       bool seekable) {
  encoder_ = std::make_unique<Encoder>();
  Encoder& e = *encoder_;
  e.files = &files_;
  e.stream = stream;
  e.seekable = seekable;
  e.flac = FLAC__stream_encoder_new();
  e.comments = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
  if (e.flac == nullptr || e.comments == nullptr ||
      !add_comment(e.comments, "TITLE", tags.title) ||
      !add_comment(e.comments, "ARTIST", tags.author)) {
    error_ = "out of memory for the FLAC encoder";
    return false;
  }
  FLAC__StreamMetadata* metadata[] = {e.comments};
  const bool set = FLAC__stream_encoder_set_channels(e.flac, 2) &&
                   FLAC__stream_encoder_set_bits_per_sample(e.flac, 16) &&
                   FLAC__stream_encoder_set_sample_rate(e.flac, sample_rate) &&
                   FLAC__stream_encoder_set_compression_level(e.flac, 5) &&
                   FLAC__stream_encoder_set_metadata(e.flac, metadata, 1);
  if (!set) {
    error_ = "FLAC encoder refused its settings (sample rate " +
             std::to_string(sample_rate) + ")";
    return false;
  }
  const FLAC__StreamEncoderInitStatus status = FLAC__stream_encoder_init_stream(
      e.flac, Encoder::on_write, Encoder::on_seek, Encoder::on_tell, nullptr, &e);
  if (status == FLAC__STREAM_ENCODER_INIT_STATUS_OK) return true;
  error_ =
      e.write_failed ? "writing the FLAC stream failed"
      : status == FLAC__STREAM_ENCODER_INIT_STATUS_ENCODER_ERROR
          ? std::string("FLAC encoder: ") +
                FLAC__stream_encoder_get_resolved_state_string(e.flac)
          : std::string("FLAC encoder: ") + FLAC__StreamEncoderInitStatusString[status];
  return false;
}

bool FlacWriter::write(std::span<const int16_t> samples) {
  if (!encoder_ || encoder_->flac == nullptr) return false;
  Encoder& e = *encoder_;
  while (!samples.empty()) {
    const size_t count = std::min(samples.size() & ~size_t{1}, e.wide.size());
    if (count == 0) break;
    for (size_t i = 0; i < count; ++i) e.wide[i] = samples[i];
    if (!FLAC__stream_encoder_process_interleaved(e.flac, e.wide.data(),
                                                  static_cast<uint32_t>(count / 2))) {
      error_ = e.write_failed
                   ? "writing the FLAC stream failed"
                   : std::string("FLAC encoder: ") +
                         FLAC__stream_encoder_get_resolved_state_string(e.flac);
      return false;
    }
    samples = samples.subspan(count);
  }
  return true;
}

bool FlacWriter::finish() {
  if (!encoder_ || encoder_->flac == nullptr) return false;
  Encoder& e = *encoder_;
  const bool ok = FLAC__stream_encoder_finish(e.flac) != 0;
  if (ok && !e.write_failed) return true;
  error_ = e.write_failed ? "writing the FLAC stream failed"
                          : std::string("FLAC encoder: ") +
                                FLAC__stream_encoder_get_resolved_state_string(e.flac);
  return false;
}

#else  // built without libFLAC

struct FlacWriter::Encoder {};

bool flac_supported() {
  return false;
}

FlacWriter::FlacWriter(OutputFiles& files) : files_(files) {
  (void)files_;
}
FlacWriter::~FlacWriter() = default;

bool FlacWriter::begin(FILE*, uint32_t, const FlacTags&, bool) {
  error_ = "FLAC output is not available in this build (built without libFLAC)";
  return false;
}
bool FlacWriter::write(std::span<const int16_t>) {
  return false;
}
bool FlacWriter::finish() {
  return false;
}

#endif

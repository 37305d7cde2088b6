// FLAC output decodes to the very samples written, with its comments, and
// every failure of the output underneath is reported.
#include "audio/flac_writer.h"

#include <FLAC/stream_decoder.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "common/atomic_output.h"
#include "tests/support/faulty_files.h"
#include "tests/support/temp_dir.h"

namespace {

struct Decoded {
  std::vector<int16_t> samples;
  std::vector<std::string> comments;
  uint32_t sample_rate = 0;
  uint64_t total_samples = 0;
  bool ok = false;
};

FLAC__StreamDecoderWriteStatus on_frame(const FLAC__StreamDecoder*,
                                        const FLAC__Frame* frame,
                                        const FLAC__int32* const buffer[], void* data) {
  auto* decoded = static_cast<Decoded*>(data);
  for (uint32_t i = 0; i < frame->header.blocksize; ++i)
    for (int channel = 0; channel < 2; ++channel)
      decoded->samples.push_back(static_cast<int16_t>(buffer[channel][i]));
  return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void on_metadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* metadata,
                 void* data) {
  auto* decoded = static_cast<Decoded*>(data);
  if (metadata->type == FLAC__METADATA_TYPE_STREAMINFO) {
    decoded->sample_rate = metadata->data.stream_info.sample_rate;
    decoded->total_samples = metadata->data.stream_info.total_samples;
  }
  if (metadata->type != FLAC__METADATA_TYPE_VORBIS_COMMENT) return;
  const auto& comments = metadata->data.vorbis_comment;
  for (uint32_t i = 0; i < comments.num_comments; ++i)
    decoded->comments.emplace_back(
        reinterpret_cast<const char*>(comments.comments[i].entry),
        comments.comments[i].length);
}

void on_error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* data) {
  static_cast<Decoded*>(data)->ok = false;
}

Decoded decode(const std::string& path) {
  Decoded decoded;
  FLAC__StreamDecoder* decoder = FLAC__stream_decoder_new();
  FLAC__stream_decoder_set_md5_checking(decoder, true);
  FLAC__stream_decoder_set_metadata_respond(decoder, FLAC__METADATA_TYPE_VORBIS_COMMENT);
  if (FLAC__stream_decoder_init_file(decoder, path.c_str(), on_frame, on_metadata,
                                     on_error,
                                     &decoded) == FLAC__STREAM_DECODER_INIT_STATUS_OK) {
    decoded.ok = true;
    decoded.ok = FLAC__stream_decoder_process_until_end_of_stream(decoder) && decoded.ok;
    decoded.ok = FLAC__stream_decoder_finish(decoder) && decoded.ok;  // MD5 checked
  }
  FLAC__stream_decoder_delete(decoder);
  return decoded;
}

// A tone with noise and full-scale clips, so that every predictor is tried.
std::vector<int16_t> test_samples(size_t frames) {
  std::mt19937 random(5);
  std::vector<int16_t> samples;
  for (size_t i = 0; i < frames; ++i) {
    const double tone = 20000 * std::sin(static_cast<double>(i) * 0.031);
    samples.push_back(static_cast<int16_t>(tone) + static_cast<int16_t>(random() % 200));
    samples.push_back(i % 5000 < 50 ? (i % 2 ? 32767 : -32768)
                                    : static_cast<int16_t>(random() % 65536 - 32768) / 8);
  }
  return samples;
}

bool write_flac(OutputFiles& files, const std::string& path,
                const std::vector<int16_t>& samples, std::string& error) {
  AtomicOutput output(files);
  FILE* stream = output.begin(path.c_str());
  if (stream == nullptr) return false;
  FlacWriter flac(files);
  bool ok = flac.begin(stream, 44100, {"T\xC3\xADtulo", "Someone"}, true);
  // Pieces of odd sizes, larger than the writer's block too.
  for (size_t at = 0; ok && at < samples.size();) {
    const size_t count = std::min<size_t>(samples.size() - at, 2 * (1 + at % 9001));
    ok = flac.write(std::span(samples).subspan(at, count));
    at += count;
  }
  ok = ok && flac.finish();
  if (!ok) error = flac.error();
  if (ok) return output.commit();
  output.discard();
  return false;
}

TEST(FlacWriter, DecodesToTheSamplesWritten) {
  if (!flac_supported()) GTEST_SKIP() << "built without libFLAC";
  TempDir dir;
  const std::vector<int16_t> samples = test_samples(100000);
  std::string error;
  ASSERT_TRUE(write_flac(stdio_output_files(), dir.file("a.flac"), samples, error))
      << error;
  const Decoded decoded = decode(dir.file("a.flac"));
  ASSERT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.sample_rate, 44100u);
  EXPECT_EQ(decoded.total_samples, samples.size() / 2);
  EXPECT_TRUE(decoded.samples == samples);
  EXPECT_EQ(decoded.comments,
            (std::vector<std::string>{"TITLE=T\xC3\xADtulo", "ARTIST=Someone"}));
}

TEST(FlacWriter, EveryFailedWriteOrSeekIsReportedAndLeavesNothing) {
  if (!flac_supported()) GTEST_SKIP() << "built without libFLAC";
  const std::vector<int16_t> samples = test_samples(30000);
  struct Case {
    FaultyFiles::Kind kind;
    int at;
  };
  for (const Case c :
       {Case{FaultyFiles::Kind::Write, 1}, Case{FaultyFiles::Kind::Write, 5},
        Case{FaultyFiles::Kind::Seek, 1}}) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(c.kind) << " #" << c.at);
    TempDir dir;
    FaultyFiles files;
    files.fail_kind = c.kind;
    files.fail_at = c.at;
    std::string error;
    EXPECT_FALSE(write_flac(files, dir.file("a.flac"), samples, error));
    EXPECT_EQ(error, "writing the FLAC stream failed");
    EXPECT_TRUE(list_folder(dir.path()).empty());
  }
}

}  // namespace

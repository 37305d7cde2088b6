// Both programs on inputs that are long or strange: a text log of over a
// gigabyte through a pipe, a million of the longest delays, NUL bytes and
// lines at the length limit, and paths that are folders, FIFOs or unreadable.
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#endif

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>

#include "common/register_log.h"
#include "tests/support/logs.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

#if !defined(_WIN32)
// The streaming tests feed a FIFO, watch the programs' memory through /proc
// and stand in for a full disk with RLIMIT_FSIZE: POSIX facilities that
// Windows lacks, so they are compiled on POSIX systems only.

uint32_t le32(const std::string& bytes, size_t offset) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) {
    value = value << 8 | static_cast<uint8_t>(bytes[offset + static_cast<size_t>(i)]);
  }
  return value;
}

// A FIFO fed by a thread: `next` appends the next piece of the stream to its
// argument and returns false once nothing is left. The reading program sees a
// pipe that cannot seek and never holds the whole stream.
class FifoFeed {
 public:
  FifoFeed(const std::string& path, std::function<bool(std::string&)> next)
      : path_(path) {
    // A reader that stops early must end the feed, not the test.
    std::signal(SIGPIPE, SIG_IGN);
    if (mkfifo(path.c_str(), 0644) != 0) return;
    thread_ = std::thread([this, next = std::move(next)] {
      const int fd = ::open(path_.c_str(), O_WRONLY);
      if (fd < 0) return;
      std::string piece;
      bool more = true;
      while (more && !stop_) {
        piece.clear();
        more = next(piece);
        size_t sent = 0;
        while (sent < piece.size()) {
          const ssize_t n = ::write(fd, piece.data() + sent, piece.size() - sent);
          if (n <= 0) {
            more = false;
            break;
          }
          sent += static_cast<size_t>(n);
          bytes_ += static_cast<uint64_t>(n);
        }
      }
      ::close(fd);
    });
  }
  // Waits for the feed; unblocks it first if no reader ever opened the FIFO.
  uint64_t finish() {
    stop_ = true;
    const int unblock = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK);
    if (thread_.joinable()) thread_.join();
    if (unblock >= 0) ::close(unblock);
    return bytes_;
  }
  ~FifoFeed() { finish(); }

 private:
  std::string path_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> bytes_{0};
};

#endif

class Streams : public testing::Test {
 protected:
  ProcessResult run(const char* program, const std::vector<std::string>& args,
                    long file_size_limit = -1) {
    ProcessOptions options;
    options.working_directory = dir_.path();
    options.file_size_limit = file_size_limit;
    options.sample_memory = true;
    return run_program(program, args, options);
  }
  TempDir dir_;
};

#if !defined(_WIN32)
// A streaming run may take memory while it starts (stream buffers, the first
// frames); from the first tenth of the run on, its peak must stay flat.
constexpr long kMemorySlackKb = 1024;

void expect_flat_memory(const ProcessResult& r) {
  const std::vector<long>& peak = r.memory_samples_kb;
  ASSERT_GE(peak.size(), 10u) << "the run was too short to watch";
  const long early = peak[peak.size() / 10];
  EXPECT_LE(peak.back(), early + kMemorySlackKb) << "from " << early << " kB";
  testing::Test::RecordProperty("peak_memory_kb", static_cast<int>(peak.back()));
}

// 8.5 million lines of 127 characters (blanks pad the time field), one chip
// tick apart: 1.08 GB of text, 8.5 s of sound.
constexpr uint32_t kHugeLines = 8'500'000;

std::function<bool(std::string&)> huge_text_log() {
  auto line = std::make_shared<uint32_t>(0);
  return [line](std::string& piece) {
    if (*line == 0) piece = kTextHeader;
    char text[kMaxTextLine];
    for (int i = 0; i < 8192 && *line < kHugeLines; ++i, ++*line) {
      std::memset(text, ' ', sizeof text);
      // "TIME:08:0F\n", right-aligned in 127 characters.
      std::memcpy(text + sizeof text - 7, ":08:0F\n", 7);
      char* p = text + sizeof text - 7;
      uint32_t time = *line;
      do {
        *--p = static_cast<char>('0' + time % 10);
        time /= 10;
      } while (time != 0);
      piece.append(text, sizeof text);
    }
    return *line < kHugeLines;
  };
}

TEST_F(Streams, AGigabyteTextLogConvertsInConstantMemory) {
  FifoFeed feed(dir_.file("huge.txt"), huge_text_log());
  const ProcessResult r = run(TUBREL_EXE, {dir_.file("huge.txt"), "-o", "huge.bin"});
  const uint64_t fed = feed.finish();
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_GT(fed, 1'000'000'000u);
  // Delay 0 for the first record, 1 for every other: three bytes each.
  const std::string bin = read_file(dir_.file("huge.bin"));
  ASSERT_EQ(bin.size(), 9u + 3u * kHugeLines);
  EXPECT_EQ(bin.substr(9, 6), std::string("\x00\x08\x0F\x01\x08\x0F", 6));
  EXPECT_EQ(bin.substr(bin.size() - 3), std::string("\x01\x08\x0F", 3));
  expect_flat_memory(r);
}

TEST_F(Streams, AGigabyteTextLogRendersInConstantMemory) {
  FifoFeed feed(dir_.file("huge.txt"), huge_text_log());
  const ProcessResult r = run(ZARNIK_EXE, {dir_.file("huge.txt"), "-o", "huge.wav"});
  const uint64_t fed = feed.finish();
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_GT(fed, 1'000'000'000u);
  const std::string wav = read_file(dir_.file("huge.wav"));
  const uint64_t frames = 44100ull * (kHugeLines - 1) / 1000000;
  ASSERT_EQ(wav.size(), 44 + 4 * frames);
  EXPECT_EQ(le32(wav, 40), 4 * frames);
  expect_flat_memory(r);
}

// Times 268435455 ticks apart, modulo 2^32 like the reader: a million records
// with the longest delay a binary log can hold.
TEST_F(Streams, AMillionLongestDelaysConvertReadBackAndRenderUntilTheDiskIsFull) {
  constexpr uint32_t kRecords = 1'000'000;
  std::string text = kTextHeader;
  text.reserve(16u * kRecords);
  char line[32];
  for (uint32_t i = 0; i <= kRecords; ++i) {
    const uint32_t time = i * kMaxBinaryDelay;
    std::snprintf(line, sizeof line, "%d:%02X:%02X\n", static_cast<int32_t>(time), i % 14,
                  i % 256);
    text += line;
  }
  write_file(dir_.file("long.txt"), text);
  text = std::string();
  const ProcessResult converted =
      run(TUBREL_EXE, {dir_.file("long.txt"), "-o", "long.bin"});
  ASSERT_EQ(converted.exit_code, 0) << converted.err;

  const std::string bin = read_file(dir_.file("long.bin"));
  ASSERT_EQ(bin.size(), 9u + 3u + 6u * kRecords);
  RegisterLog log;
  ASSERT_TRUE(
      open_register_log(log, dir_.file("long.bin").c_str(), LogOpenRules::Player));
  uint32_t delay = 0;
  uint8_t reg = 0;
  uint8_t value = 0;
  ASSERT_TRUE(log.event_reader(nullptr, &reg, &value));
  uint32_t count = 0;
  uint32_t wrong = 0;
  while (log.event_reader(&delay, &reg, &value)) {
    ++count;
    if (delay != kMaxBinaryDelay || reg != count % 14 || value != count % 256) ++wrong;
  }
  log.close();
  EXPECT_EQ(count, kRecords);
  EXPECT_EQ(wrong, 0u);

  // 74.6 hours of sound, past what a WAV header can describe: the render stops
  // at the header's limit, in flat memory, and leaves a device alone.
  const ProcessResult rendered =
      run(ZARNIK_EXE, {dir_.file("long.bin"), "-o", "/dev/null"});
  EXPECT_EQ(rendered.exit_code, 6);
  EXPECT_EQ(rendered.err,
            "Zarnik: Too much sound for one WAV file (more than 4294967256 bytes).\n");
  EXPECT_TRUE(file_exists("/dev/null"));
  expect_flat_memory(rendered);

  // A full disk after 16 MB stops it too, with the file deleted.
  const ProcessResult full =
      run(ZARNIK_EXE, {dir_.file("long.bin"), "-o", "long.wav"}, 16'000'000);
  EXPECT_EQ(full.exit_code, 6);
  EXPECT_EQ(full.err, "Zarnik: Can't write to output file.\n");
  EXPECT_FALSE(file_exists(dir_.file("long.wav")));
}

#endif

TEST_F(Streams, NulBytesEndAFieldAndTheRestOfItsLineIsIgnored) {
  // (Not "nul.txt": on Windows that name is the NUL device.)
  // A NUL inside the value field's line ends the field there, as it ends a
  // string; a NUL inside the time field hides the colons and ends the log.
  const std::string log = kTextHeader + std::string("0:07:38\0junk\n", 13) +
                          "100000:08:0F\n" +
                          std::string(
                              "12\0"
                              "34:09:01\n",
                              12) +
                          "200000:0A:02\n";
  write_file(dir_.file("nulbytes.txt"), log);
  const ProcessResult converted =
      run(TUBREL_EXE, {dir_.file("nulbytes.txt"), "-o", "nulbytes.bin"});
  EXPECT_EQ(converted.exit_code, 0) << converted.err;
  EXPECT_EQ(read_file(dir_.file("nulbytes.bin")),
            kBinaryHeader + std::string("\x00\x07\x38\x86\x8D\x20\x08\x0F", 8));
  // The player reads the same two events: 100000 ticks of sound.
  const ProcessResult rendered =
      run(ZARNIK_EXE, {dir_.file("nulbytes.txt"), "-o", "nulbytes.wav"});
  EXPECT_EQ(rendered.exit_code, 0) << rendered.err;
  EXPECT_EQ(read_file(dir_.file("nulbytes.wav")).size(), 44u + 4 * 4410);
}

TEST_F(Streams, LinesOfTheLongestLengthConvertAndOneMoreSplits) {
  const std::string exact = std::string(118, ' ') + "10:01:02\n";
  ASSERT_EQ(exact.size(), 127u);
  write_file(dir_.file("127.txt"), kTextHeader + "0:00:00\n" + exact + "20:03:04\n");
  write_file(dir_.file("128.txt"), kTextHeader + "0:00:00\n " + exact + "20:03:04\n");
  ASSERT_EQ(run(TUBREL_EXE, {dir_.file("127.txt"), "-o", "127.bin"}).exit_code, 0);
  ASSERT_EQ(run(TUBREL_EXE, {dir_.file("128.txt"), "-o", "128.bin"}).exit_code, 0);
  const std::string first_two =
      kBinaryHeader + std::string("\x00\x00\x00\x0A\x01\x02", 6);
  EXPECT_EQ(read_file(dir_.file("127.bin")), first_two + std::string("\x0A\x03\x04", 3));
  // The 128th character, the line end, is a line of its own that ends the log.
  EXPECT_EQ(read_file(dir_.file("128.bin")), first_two);
}

#if !defined(_WIN32)
// A text log of `lines` writes, one millisecond apart.
std::string millisecond_log(uint32_t first, uint32_t lines) {
  std::string log;
  for (uint32_t i = first; i < first + lines; ++i) {
    log += std::to_string(i * 1000) + ":08:" + (i % 2 == 0 ? "0F\n" : "00\n");
  }
  return log;
}

TEST_F(Streams, AnInterruptedRenderLeavesTheOutputAsItWasAndNoTemporaryFile) {
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    write_file(dir_.file("out.wav"), "old");
    // The signal comes after a random number of 4-second pieces of the log
    // have gone into the FIFO, each one a render of its own length.
    const uint32_t cut = 1 + random() % 12;
    std::atomic<long> pid{0};
    uint32_t pieces = 0;
    FifoFeed feed(dir_.file("in.txt"), [&](std::string& piece) {
      if (pieces == cut) {
        while (pid.load() == 0) std::this_thread::yield();
        kill(static_cast<pid_t>(pid.load()), signal_number);
        return false;
      }
      piece = (pieces == 0 ? kTextHeader : "") + millisecond_log(pieces * 4000, 4000);
      ++pieces;
      return true;
    });
    ProcessOptions options;
    options.working_directory = dir_.path();
    options.started = [&pid](long started) { pid = started; };
    const ProcessResult r =
        run_program(ZARNIK_EXE, {dir_.file("in.txt"), "-o", "out.wav"}, options);
    feed.finish();
    const std::string what = "signal " + std::to_string(signal_number) + " after piece " +
                             std::to_string(cut) + " (seed " + std::to_string(seed) + ")";
    EXPECT_EQ(r.term_signal, signal_number) << what << r.err;
    EXPECT_TRUE(read_file(dir_.file("out.wav")) == "old") << what;
    EXPECT_EQ(list_folder(dir_.path()), (std::vector<std::string>{"in.txt", "out.wav"}))
        << what;
    std::remove(dir_.file("in.txt").c_str());
  }
}

TEST_F(Streams, AReaderThatStopsEarlyIsAFailedWriteAndAClosedOutputNoHarm) {
  write_file(dir_.file("long.txt"), kTextHeader + millisecond_log(0, 40000));
  ASSERT_EQ(run(ZARNIK_EXE, {"long.txt", "-o", "reference.wav"}).exit_code, 0);
  const std::string zarnik = std::string("'") + ZARNIK_EXE + "' long.txt -o ";
  const std::string tubrel = std::string("'") + TUBREL_EXE + "' long.txt -o ";
  // The first command's own exit code, whatever the reader does.
  const std::string piped = " | head -c1 >/dev/null; exit ${PIPESTATUS[0]}";
  const std::string fifo_read_once = "mkfifo out.fifo; head -c1 out.fifo >/dev/null & ";
  const std::string cant_write = "Zarnik: Can't write to output file.\n";
  struct Case {
    std::string command;
    int code;
    std::string err;
  };
  const Case cases[] = {
      {zarnik + "/dev/stdout" + piped, 6, cant_write},
      {tubrel + "/dev/stdout" + piped, 6, "Tubrel: Can't write to [/dev/stdout]\n"},
      {fifo_read_once + zarnik + "out.fifo", 6, cant_write},
      {fifo_read_once + tubrel + "out.fifo", 6, "Tubrel: Can't write to [out.fifo]\n"},
      // No standard input or output at all: the progress lines go nowhere,
      // and never into the file that takes the output's number.
      {zarnik + "out.wav <&- >&-", 0, ""},
  };
  for (const Case& c : cases) {
    std::remove(dir_.file("out.fifo").c_str());
    ProcessOptions options;
    options.working_directory = dir_.path();
    const ProcessResult r = run_program("/bin/bash", {"-c", c.command}, options);
    EXPECT_EQ(r.exit_code, c.code) << c.command;
    EXPECT_EQ(r.err, c.err) << c.command;
  }
  EXPECT_TRUE(read_file(dir_.file("out.wav")) == read_file(dir_.file("reference.wav")));
}

TEST_F(Streams, AFifoIsReadLikeAFile) {
  const std::string log = kTextHeader + "0:08:0F\n1000:08:00\n";
  write_file(dir_.file("song.txt"), log);
  ASSERT_EQ(run(TUBREL_EXE, {dir_.file("song.txt"), "-o", "file.bin"}).exit_code, 0);
  ASSERT_EQ(run(ZARNIK_EXE, {dir_.file("song.txt"), "-o", "file.wav"}).exit_code, 0);
  for (const auto& [program, output] :
       {std::pair{TUBREL_EXE, "fifo.bin"}, std::pair{ZARNIK_EXE, "fifo.wav"}}) {
    const std::string fifo = dir_.file(std::string("in-") + output);
    FifoFeed feed(fifo, [log](std::string& piece) {
      piece = log;
      return false;
    });
    const ProcessResult r = run(program, {fifo, "-o", output});
    feed.finish();
    EXPECT_EQ(r.exit_code, 0) << r.err;
  }
  EXPECT_EQ(read_file(dir_.file("fifo.bin")), read_file(dir_.file("file.bin")));
  EXPECT_EQ(read_file(dir_.file("fifo.wav")), read_file(dir_.file("file.wav")));
}

#endif

TEST_F(Streams, FoldersAndUnreadableFilesAreNotLogs) {
  const std::string folder = dir_.path();
  const ProcessResult zarnik = run(ZARNIK_EXE, {folder, "-o", "out.wav"});
  EXPECT_EQ(zarnik.exit_code, 2);
  EXPECT_EQ(zarnik.err,
            "Zarnik: Can't open [" + folder + "]\nZarnik: Can't open [" + folder + "]\n");
  EXPECT_FALSE(file_exists(dir_.file("out.wav")));

#if defined(_WIN32)
  // Unreadable on Windows: another program holds the file open and shares
  // nothing, so opening it fails as a permission would.
  write_file(dir_.file("locked.txt"), kTextHeader + "0:07:38\n");
  const HANDLE lock = CreateFileA(dir_.file("locked.txt").c_str(), GENERIC_READ, 0,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  ProcessOptions as_user;
  as_user.working_directory = dir_.path();
  const ProcessResult tubrel =
      run_program(TUBREL_EXE, {"locked.txt", "-o", "out.bin"}, as_user);
  const ProcessResult player =
      run_program(ZARNIK_EXE, {"locked.txt", "-o", "out.wav"}, as_user);
  CloseHandle(lock);
  EXPECT_EQ(tubrel.exit_code, 2);
  EXPECT_EQ(tubrel.err, "Tubrel: Can't open [locked.txt]\n");
  EXPECT_FALSE(file_exists(dir_.file("out.bin")));
  EXPECT_EQ(player.exit_code, 2);
  EXPECT_EQ(player.err,
            "Zarnik: Can't open [locked.txt]\nZarnik: Can't open [locked.txt]\n");
#else
  // Unreadable for the user who runs the program; as root, the program runs
  // as nobody so that the permission applies.
  write_file(dir_.file("locked.txt"), kTextHeader + "0:07:38\n");
  ASSERT_EQ(chmod(dir_.file("locked.txt").c_str(), 0), 0);
  ASSERT_EQ(chmod(dir_.path().c_str(), 0777), 0);
  ProcessOptions as_user;
  as_user.working_directory = dir_.path();
  as_user.drop_root = true;
  const ProcessResult tubrel =
      run_program(TUBREL_EXE, {"locked.txt", "-o", "out.bin"}, as_user);
  if (tubrel.exit_code == 125 || tubrel.exit_code == 126 || tubrel.exit_code == 127) {
    GTEST_SKIP() << "cannot run the programs as an unprivileged user here (exit "
                 << tubrel.exit_code << ")";
  }
  EXPECT_EQ(tubrel.exit_code, 2);
  EXPECT_EQ(tubrel.err, "Tubrel: Can't open [locked.txt]\n");
  EXPECT_FALSE(file_exists(dir_.file("out.bin")));
  const ProcessResult player =
      run_program(ZARNIK_EXE, {"locked.txt", "-o", "out.wav"}, as_user);
  EXPECT_EQ(player.exit_code, 2);
  EXPECT_EQ(player.err,
            "Zarnik: Can't open [locked.txt]\nZarnik: Can't open [locked.txt]\n");
#endif
}

TEST_F(Streams, AnOutputThatIsAFolderIsNotTouched) {
  write_file(dir_.file("song.txt"), kTextHeader + "0:07:38\n1000:08:0F\n");
  ASSERT_TRUE(std::filesystem::create_directory(dir_.file("out")));
  write_file(dir_.file("out/keep"), "keep");
  const ProcessResult tubrel = run(TUBREL_EXE, {dir_.file("song.txt"), "-o", "out"});
  EXPECT_EQ(tubrel.exit_code, 3);
  EXPECT_EQ(tubrel.err, "Tubrel: Can't create [out]\n");
  const ProcessResult zarnik = run(ZARNIK_EXE, {dir_.file("song.txt"), "-o", "out"});
  EXPECT_EQ(zarnik.exit_code, 3);
  EXPECT_EQ(zarnik.err, "Zarnik: Can't open output file [out]\n");
  EXPECT_EQ(read_file(dir_.file("out/keep")), "keep");
}

}  // namespace

// dump, check and the log half of info, all built on one scan of the log.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/log_writer.h"
#include "common/messages.h"
#include "mova/log_scan.h"
#include "mova/mova.h"
#include "mova/output.h"
#include "mova/report.h"
#include "mova/song_info.h"

namespace {

// Reports a log that can't be scanned; returns its exit code.
int report_unscanned(const char* path, const std::string& why) {
  report(path, "%s", why.c_str());
  return kMovaCantRead;
}

// Reports a log whose reading failed midway; returns its exit code.
int report_read_failure(const char* path, int error) {
  report(path, "can't read the whole file: %s", std::strerror(error));
  return kMovaCantRead;
}

// Writes every event as a text line with its full chip time, the first at 0:
// the converter turns the times back into the same delays, modulo 2^32.
class DumpSink : public LogScanSink {
 public:
  explicit DumpSink(FILE* stream) : stream_(stream) {}
  void event(const ScannedEvent& e) override {
    ok_ = ok_ && write_text_event(e.time, e.reg, e.value, stream_);
  }
  // Keeps the first difference of each kind and counts the rest, so that a
  // long log in another encoding does not fill the memory.
  void finding(const Finding& f) override {
    if (!breaks_inverse(f.kind)) return;
    for (Difference& d : differences_) {
      if (d.first.kind == f.kind) {
        ++d.more;
        return;
      }
    }
    differences_.push_back({f, 0});
  }
  struct Difference {
    Finding first;
    uint64_t more;  // how many more of its kind followed
  };
  bool ok() const { return ok_; }
  const std::vector<Difference>& differences() const { return differences_; }

 private:
  FILE* stream_;
  bool ok_ = true;
  std::vector<Difference> differences_;
};

// Counts what info tells about a log and keeps where it ends early.
class InfoSink : public LogScanSink {
 public:
  void event(const ScannedEvent& e) override {
    ++writes_[e.reg];
    if (e.reg == 11 || e.reg == 12 || e.reg == 13) ++restarts_;
  }
  void finding(const Finding& f) override {
    if (f.kind == FindingKind::EndsEarly) end_ = f;
  }
  std::array<uint64_t, 256> writes_{};
  uint64_t restarts_ = 0;
  Finding end_;
};

void print_log_info(const char* path, const ScanSummary& summary, const InfoSink& sink) {
  const bool text = summary.form == LogForm::Text;
  std::printf("%s: %s register log\n", one_line(path).c_str(), text ? "text" : "binary");
  std::printf("  events: %llu\n", static_cast<unsigned long long>(summary.events));
  std::printf("  total time: %s (%llu us)\n", duration_text(summary.total_time).c_str(),
              static_cast<unsigned long long>(summary.total_time));
  std::printf("  first event: %lld us as stored (played at 0)\n",
              static_cast<long long>(summary.first_time));
  std::printf("  last event: %llu us after the first\n",
              static_cast<unsigned long long>(summary.total_time));
  std::string counts;
  uint64_t above = 0;
  for (int reg = 0; reg < 256; ++reg) {
    if (reg > 15) {
      above += sink.writes_[reg];
    } else if (sink.writes_[reg] != 0) {
      counts += " R" + std::to_string(reg) + "=" + std::to_string(sink.writes_[reg]);
    }
  }
  if (above != 0) counts += " above R15=" + std::to_string(above);
  std::printf("  writes per register:%s\n", counts.empty() ? " none" : counts.c_str());
  std::printf("  envelope restarts: %llu (writes to registers 11, 12 and 13)\n",
              static_cast<unsigned long long>(sink.restarts_));
  if (summary.ended_early) {
    std::printf("  ends early: %s\n",
                finding_text(path, summary.form, sink.end_).c_str());
  } else {
    std::printf("  ends: at the end of the file\n");
  }
}

}  // namespace

int dump_command(const char* log_path, const char* output_path, InputFiles& inputs) {
  // The magic first, so that a file that is no binary log never creates the
  // output; the log is then read once, which a pipe allows.
  OpenLog log;
  std::string why;
  if (open_log(log_path, inputs, log, &why) != ScanResult::Ok)
    return report_unscanned(log_path, why);
  if (log.form != LogForm::Binary) {
    std::fclose(log.stream);
    report(log_path, "a text log already: dump turns binary logs into text");
    return kMovaCantRead;
  }
  std::vector<DumpSink::Difference> differences;
  bool read_failed = false;
  int read_error = 0;
  const char* input_paths[] = {log_path};
  const OutputStatus written = write_output(output_path, input_paths, [&](FILE* stream) {
    DumpSink sink(stream);
    ScanSummary summary;
    const bool magic = std::fwrite(kTextMagic, 1, kMagicLength, stream) == kMagicLength;
    scan_open_log(log, sink, summary);
    differences = sink.differences();
    read_failed = summary.read_failed;
    read_error = summary.read_error;
    return magic && sink.ok() && !read_failed;
  });
  if (log.stream != nullptr) std::fclose(log.stream);
  if (read_failed) return report_read_failure(log_path, read_error);
  if (written.result != OutputResult::Ok) return report_output(output_path, written);
  // The text log plays like the binary one; tell what the converter will not
  // give back byte for byte.
  for (const DumpSink::Difference& d : differences) {
    report(log_path, "@%llu: %s (tubrel will not give these bytes back%s)",
           static_cast<unsigned long long>(d.first.offset), d.first.reason.c_str(),
           d.more == 0 ? ""
                       : (", nor " + std::to_string(d.more) + " more like them").c_str());
  }
  return differences.empty() ? kMovaOk : kMovaFindings;
}

int check_command(const std::vector<const char*>& paths, InputFiles& inputs) {
  // Prints each problem as the scan meets it: memory stays flat however many
  // a long log holds.
  class CheckSink : public LogScanSink {
   public:
    CheckSink(const char* path, LogForm form) : path_(path), form_(form) {}
    void finding(const Finding& f) override {
      if (only_form(f.kind)) return;
      std::printf("%s\n", finding_text(path_, form_, f).c_str());
      found = true;
    }
    bool found = false;

   private:
    const char* path_;
    LogForm form_;
  };
  int code = kMovaOk;
  for (const char* path : paths) {
    OpenLog log;
    std::string why;
    if (open_log(path, inputs, log, &why) != ScanResult::Ok) {
      code = std::max(code, report_unscanned(path, why));
      continue;
    }
    CheckSink sink(path, log.form);
    ScanSummary summary;
    scan_open_log(log, sink, summary);
    if (summary.read_failed) {
      code = std::max(code, report_read_failure(path, summary.read_error));
    }
    if (sink.found) code = std::max<int>(code, kMovaFindings);
  }
  return code;
}

int info_command(const std::vector<const char*>& paths, InputFiles& inputs) {
  int code = kMovaOk;
  for (const char* path : paths) {
    InfoSink sink;
    ScanSummary summary;
    std::string why;
    const ScanResult scanned = scan_log(path, inputs, sink, summary, &why);
    if (scanned == ScanResult::Ok && summary.read_failed) {
      code = std::max(code, report_read_failure(path, summary.read_error));
    } else if (scanned == ScanResult::Ok) {
      print_log_info(path, summary, sink);
    } else if (scanned == ScanResult::NotALog) {
      code = std::max(code, song_info(path, inputs));
    } else {
      code = std::max(code, report_unscanned(path, why));
    }
  }
  return code;
}

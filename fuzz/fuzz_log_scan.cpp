// mova's log scan on arbitrary files: it reads exactly the events the
// player reads, and for a binary log that it finds in the converter's form,
// the dump of those events converted back gives the file's bytes again.
#include <string>
#include <vector>

#include "common/input_file.h"
#include "common/log_writer.h"
#include "common/messages.h"
#include "common/register_log.h"
#include "converter/converter.h"
#include "fuzz/fuzz_support.h"
#include "mova/log_scan.h"

namespace {

struct Event {
  uint64_t time;
  uint8_t reg;
  uint8_t value;
  bool operator==(const Event&) const = default;
};

class CollectingSink : public LogScanSink {
 public:
  void event(const ScannedEvent& e) override {
    events.push_back({e.time, e.reg, e.value});
  }
  void finding(const Finding& f) override {
    exact_inverse = exact_inverse && !breaks_inverse(f.kind);
  }
  std::vector<Event> events;
  bool exact_inverse = true;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  set_program_name("mova");
  const std::string input = scratch_folder() + "/in.log";
  write_whole_file(input, data, size);

  CollectingSink sink;
  ScanSummary summary;
  std::string why;
  const ScanResult scanned =
      scan_log(input.c_str(), stdio_input_files(), sink, summary, &why);
  RegisterLog log;
  const bool opened = open_register_log(log, input.c_str(), LogOpenRules::Player);
  FUZZ_REQUIRE(opened == (scanned == ScanResult::Ok));
  if (!opened) return 0;

  // The player's reading, as chip times.
  std::vector<Event> played;
  Event e{};
  uint32_t delay = 0;
  if (log.event_reader(nullptr, &e.reg, &e.value)) {
    played.push_back(e);
    while (log.event_reader(&delay, &e.reg, &e.value)) {
      e.time += delay;
      played.push_back(e);
    }
  }
  log.close();
  FUZZ_REQUIRE(played == sink.events);
  FUZZ_REQUIRE(summary.events == played.size());
  if (summary.form != LogForm::Binary || !sink.exact_inverse || played.empty()) return 0;

  // dump, then the converter: the same bytes.
  const std::string text = scratch_folder() + "/dump.txt";
  const std::string back = scratch_folder() + "/back.bin";
  FILE* file = std::fopen(text.c_str(), "wb");
  FUZZ_REQUIRE(std::fwrite(kTextMagic, 1, kMagicLength, file) == kMagicLength);
  for (const Event& event : played) {
    FUZZ_REQUIRE(write_text_event(event.time, event.reg, event.value, file));
  }
  FUZZ_REQUIRE(std::fclose(file) == 0);
  FUZZ_REQUIRE(convert_register_log(text.c_str(), back.c_str()) == kConvertOk);
  FUZZ_REQUIRE(read_whole_file(back) ==
               std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}

// Writes COUNT different PSG songs of a minute each into a folder, for
// timing batch renders and live play: make_songs DIR [COUNT]. Song n is
// drawn from a generator seeded with n: every frame sets the three tone
// periods and volumes, now and then the noise, the mixer and an envelope.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace {

constexpr int kFrames = 3000;  // 60 s at 50 Hz

std::string song(unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes = "PSG\x1A" + std::string(12, '\0');
  const auto put = [&](int reg, unsigned value) {
    bytes += static_cast<char>(reg);
    bytes += static_cast<char>(value & 0xFF);
  };
  constexpr unsigned kMixers[] = {0x38, 0x30, 0x28, 0x00};
  for (int frame = 0; frame < kFrames; ++frame) {
    for (int channel = 0; channel < 3; ++channel) {
      put(2 * channel, random());
      put(2 * channel + 1, random() & 0x0F);
      put(8 + channel, random() % 10 == 0 ? 0x10 : random() & 0x0F);
    }
    if (random() % 4 == 0) put(6, random() & 0x1F);
    if (random() % 8 == 0) put(7, kMixers[random() % 4]);
    if (random() % 20 == 0) {
      put(11, random());
      put(12, random());
      put(13, random() & 0x0F);
    }
    bytes += '\xFF';
  }
  return bytes + '\xFD';
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: make_songs DIR [COUNT]\n");
    return 1;
  }
  const int count = argc == 3 ? std::atoi(argv[2]) : 20;
  for (int n = 0; n < count; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "/song%02d.psg", n);
    const std::string path = argv[1] + std::string(name);
    const std::string bytes = song(static_cast<unsigned>(n));
    std::FILE* file = std::fopen(path.c_str(), "wb");
    const bool written = file != nullptr &&
                         std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (file == nullptr || std::fclose(file) != 0 || !written) {
      std::fprintf(stderr, "make_songs: can't write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}

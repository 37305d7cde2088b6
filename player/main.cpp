#include "player/player.h"

int main(int argc, char** argv) {
  return player_main(argc, argv);
}

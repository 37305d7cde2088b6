#include "mova/mova.h"

int main(int argc, char** argv) {
  return mova_main(argc, argv);
}

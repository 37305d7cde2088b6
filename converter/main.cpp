#include "converter/converter.h"

int main(int argc, char** argv) {
  return converter_main(argc, argv);
}

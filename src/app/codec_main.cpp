// tilvex-codec: compresses and decompresses single streams of either format.
#include <cstdio>

#include "app/codec_cli.h"
#include "platform/console.h"

int main(int argc, char** argv) {
  tilvex::platform::prepare_console_output();
  return tilvex::codec_main(argc, argv, stdout, stderr);
}

// tilvex-codec: compresses and decompresses single streams of either format.
#include <cstdio>

#include "app/codec_cli.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  tilvex::platform::ignore_file_size_signal();
  return tilvex::codec_main(argc, argv, stdout, stderr);
}

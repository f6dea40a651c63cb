// tilvex-codec: compresses and decompresses single streams of either format.
#include <cstdio>

#include "app/codec_cli.h"
#include "platform/console.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  tilvex::platform::prepare_console_output();
  tilvex::platform::ignore_file_size_signal();  // a full disk is a failed write, not a kill
  return tilvex::codec_main(argc, argv, stdout, stderr);
}

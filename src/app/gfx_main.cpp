// tilvex-gfx: the structures as PNG pictures, and back.
#include <cstdio>

#include "app/gfx_cli.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  tilvex::platform::ignore_file_size_signal();  // a full disk is a failed write, not a kill
  return tilvex::gfx_main(argc, argv, stdout, stderr);
}

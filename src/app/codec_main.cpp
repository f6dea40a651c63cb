// tilvex-codec: compresses and decompresses single streams of either format.
#include <cstdio>

#include "app/codec_cli.h"

int main(int argc, char** argv) { return tilvex::codec_main(argc, argv, stdout, stderr); }

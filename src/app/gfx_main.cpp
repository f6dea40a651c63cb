// tilvex-gfx: the structures as PNG pictures, and back.
#include <cstdio>

#include "app/gfx_cli.h"

int main(int argc, char** argv) { return tilvex::gfx_main(argc, argv, stdout, stderr); }

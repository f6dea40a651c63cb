// tilvex: takes the graphics structures out of the cartridge image and puts
// edited ones back.
#include "app/run.h"

int main(int argc, char** argv) { return tilvex::run_program(argc, argv); }

// tilvex: takes the graphics structures out of the cartridge image and puts
// edited ones back.
#include "app/run.h"
#include "platform/console.h"

int main(int argc, char** argv) {
  tilvex::platform::prepare_console_output();
  return tilvex::run_program(argc, argv);
}

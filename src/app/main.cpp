// tilvex: takes the graphics structures out of the cartridge image and puts
// edited ones back.
#include "app/run.h"
#include "platform/console.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  // A file size limit then fails a write with its message instead of ending
  // the run half-way.
  tilvex::platform::ignore_file_size_signal();
  tilvex::platform::prepare_console_output();
  return tilvex::run_program(argc, argv);
}

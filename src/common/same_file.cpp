#include "common/same_file.h"

#include <sys/stat.h>

namespace tilvex {

bool same_existing_file(const char* first, const char* second) {
  struct stat first_status {};
  struct stat second_status {};
  if (::stat(first, &first_status) != 0 || ::stat(second, &second_status) != 0) return false;
  return first_status.st_dev == second_status.st_dev && first_status.st_ino == second_status.st_ino;
}

}  // namespace tilvex

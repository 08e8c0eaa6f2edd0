// Entry point; the driver owns the whole run.
#include <string>
#include <vector>

#include "driver/driver.h"

int main(int argc, char** argv) {
  return ExitStatus(RunDriver(std::vector<std::string>(argv, argv + argc)));
}

// vardek: uploads local files to an FTP server over passive-mode data connections.
#include <cstdint>

#include "driver/driver.h"
#include "driver/process.h"

int main(int argc, char** argv) {
  PrepareProcess();
  std::int32_t status = 0;
  {
    RunState run;
    RunDriver(run, ProcessParameters(argc, argv));
    status = run.ExitStatus;
  }  // the console writes out what it still holds
  EndProcess(status);
}

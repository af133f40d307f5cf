// vardek: uploads local files to an FTP server over passive-mode data connections.
#include "driver/driver.h"
#include "driver/process.h"

int main(int argc, char** argv) {
  PrepareProcess();
  // The console writes out what it still holds when RunDriver returns.
  EndProcess(RunDriver(ProcessParameters(argc, argv)));
}

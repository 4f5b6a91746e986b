// The launcher with download limits of seconds instead of minutes, so that
// whole runs against misbehaving servers end quickly. For the end-to-end
// scenarios only: it is never installed or shipped.
#include "launcher/driver.h"
#include "launcher/entry.h"
#include "net/download.h"

int main(int argc, char** argv) {
  // The stall rule gives up well before either time limit, so a run says
  // which one ended it whatever the load; a version file gets less time than
  // an archive.
  velmoran::setDownloadTimeouts(10, 3);
  velmoran::setDownloadTimeLimits(6000, 8000);
  velmoran::runLauncher(velmoran::invocationOf(argc, argv));
}

#include "launcher/driver.h"
#include "launcher/entry.h"

int main(int argc, char** argv) { velmoran::runLauncher(velmoran::invocationOf(argc, argv)); }

#include "launcher/entry.h"

int main(int argc, char** argv) { velmoran::run(argc, argv); }

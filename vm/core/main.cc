// tobrelvm: the launcher program; everything lives in the tobrelvm_core library.
#include "launcher.h"

int main(int argc, char** argv) { return launcherMain(argc, argv); }

// The TobrelVM launcher: reads launch requests on standard input and forks one app child per
// request, at most three at a time.
#ifndef TOBREL_VM_CORE_LAUNCHER_H
#define TOBREL_VM_CORE_LAUNCHER_H

struct LauncherOptions;

// Applies every argument to `options` (the last of a repeated option wins); returns argc.
int parseOptions(int argc, char** argv, LauncherOptions* options);

// The text after `prefix` when `arg` begins with it, otherwise null.
const char* matchOption(const char* arg, const char* prefix);

// The SIGCHLD handler: reaps every ended child and queues (pid, count) for the loop to log.
void onSigChild(int signal);

// The whole process: launcher start-up and request loop; in a child, the app. Returns the
// process's exit status.
int launcherMain(int argc, char** argv);

#endif

// `tobrel.random`: pseudo-random integers computed in the app, with no message.
#ifndef TOBREL_VM_MODULES_RANDOM_H
#define TOBREL_VM_MODULES_RANDOM_H

#include <v8.h>

// tobrel.random(...): an integer from 0 up to, not including, 10000000; arguments are ignored.
void RandomFunction(const v8::FunctionCallbackInfo<v8::Value>& args);

// Seeds the generator with the current time in whole seconds, once per app, as its context is
// built: two apps started in the same second draw the same values.
void seedRandom();

#endif

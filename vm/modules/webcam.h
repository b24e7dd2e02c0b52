// The `webcam` module object of `tobrel`: asks the device to take a picture.
#ifndef TOBREL_VM_MODULES_WEBCAM_H
#define TOBREL_VM_MODULES_WEBCAM_H

#include <v8.h>

// webcam.photo(url[, fn]): the function hears one object per response and one per event, the
// latter with the picture as a file object (EventCallbackWebcam).
void WebcamFunctionPhoto(const v8::FunctionCallbackInfo<v8::Value>& args);

#endif

// The legacy drawing calls, bound at run time by name from the system's
// "ApplicationServices.framework". The plugin does not link against them: where the framework or
// a single call is missing, the call does nothing (NewRgn gives null, GetGWorld leaves its
// out-parameters unwritten), and binding is tried again at the next call.
#pragma once

#include <cstdint>

#include "frameworks.h"
#include "quickdraw.h"

// The framework bundle, null until it was loaded once; kept for the life of the process.
extern CFBundleRef ApplicationServicesFramework;

RgnHandle NewRgn();
void DisposeRgn(RgnHandle region);
void GetGWorld(CGrafPtr* port, GDHandle* device);
void SetGWorld(CGrafPtr port, GDHandle device);
void ScrollRect(const Rect* rect, int16_t dh, int16_t dv, RgnHandle updateRegion);

// Computed here: stores top, left, bottom, right.
void SetRect(Rect* rect, int16_t left, int16_t top, int16_t right, int16_t bottom);

// The named framework of the folder domain, loaded (the caller owns it), or null.
CFBundleRef LoadFrameworkBundle(int16_t domain, CFStringRef frameworkName);
// The named framework of the system domain.
CFBundleRef LoadFrameworkBundle(CFStringRef frameworkName);

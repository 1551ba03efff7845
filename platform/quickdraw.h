// The legacy drawing calls of the system's ApplicationServices framework: the types the plugin
// and the stand-in library share, and the signatures of the calls the plugin binds by name.
//
// On this platform the calls live in a loadable library (libqrxlegacy, installed as the
// executable of "ApplicationServices.framework" in the frameworks folder). They work on
// offscreen worlds: 32-bit pixel rows at a fixed stride, owned by whoever made the world.
#pragma once

#include <cstdint>

// A QuickDraw rectangle: top, left, bottom, right.
struct Rect {
    int16_t top;
    int16_t left;
    int16_t bottom;
    int16_t right;
};

// A region. This stand-in keeps one rectangle: the bounds of the area the region covers (empty
// when bottom <= top or right <= left).
struct QDRegion {
    Rect bounds;
};
using RgnPtr = QDRegion*;
using RgnHandle = QDRegion**;

// An offscreen graphics world over pixel rows the creator owns. Scrolling moves raw 32-bit words;
// the band a scroll uncovers is filled with background, a word in the rows' own layout.
struct QDOffscreenWorld {
    uint32_t* base;      // first pixel of row 0
    int32_t width;       // pixels per row
    int32_t height;      // rows
    int32_t rowBytes;    // distance from one row to the next
    uint32_t background; // word written into uncovered pixels
};
using CGrafPtr = QDOffscreenWorld*;
using GWorldPtr = QDOffscreenWorld*;

// A graphics device; the stand-in never looks inside one.
struct QDDevice;
using GDHandle = QDDevice**;

// The calls, as the plugin looks them up by name ("NewRgn", "DisposeRgn", "GetGWorld",
// "SetGWorld", "ScrollRect").
using NewRgnProc = RgnHandle (*)();
using DisposeRgnProc = void (*)(RgnHandle region);
using GetGWorldProc = void (*)(CGrafPtr* port, GDHandle* device);
using SetGWorldProc = void (*)(CGrafPtr port, GDHandle device);
using ScrollRectProc = void (*)(const Rect* rect, int16_t dh, int16_t dv, RgnHandle updateRegion);

// The name of the function a host process exports to tell the frameworks stand-in where its
// frameworks folder is, and whether a single framework function is offered.
inline constexpr const char* kFrameworksFolderHook = "qrxFrameworksFolder";
inline constexpr const char* kFrameworkFunctionHook = "qrxFrameworkFunctionOffered";
// const char* qrxFrameworksFolder(int16_t domain): the folder, or null for none.
using FrameworksFolderHook = const char* (*)(int16_t domain);
// int qrxFrameworkFunctionOffered(const char* framework, const char* name): 0 hides the function.
using FrameworkFunctionHook = int (*)(const char* framework, const char* name);

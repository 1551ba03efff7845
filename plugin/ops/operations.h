// Every function the registration tables register: the methods of Picture, the global methods and
// the functions of the two filter classes, each under the declaration the host knows it by.
#pragma once

#include <cstdint>

#include "sdk/records.h"

// ---- Colourfulness (colourfulness.cpp) ----

// "ColornessQRX(threshold as integer = 10) as double": the fraction of the pixels that count, a
// pixel counting when not all of red, green and blue are below 30 and green differs from red or
// from blue by more than threshold (taken with its sign: a negative threshold counts every pixel
// that is not dark). 0.0 for a nil or unreadable picture.
double ColornessQRX(REALpicture pic, int32_t threshold);

// ---- Scrolling (scroll.cpp) ----
// The content is shifted in place: with wrap it is rotated by moving the pixel memory itself;
// without wrap the legacy ScrollRect call moves it on the host's offscreen world. With scrollmask
// the picture's separate mask picture is shifted the same way first.

// "ScrollVerticalQRX(delta as integer, wrap as boolean, scrollmask as boolean) as boolean":
// positive delta moves the content down. False when nothing could be shifted.
bool ScrollVerticalQRX(REALpicture pic, int32_t delta, signed char wrap, signed char scrollmask);
// "ScrollHorizontalQRX(delta as integer, wrap as boolean, scrollmask as boolean) as boolean":
// positive delta moves the content right. Always true.
bool ScrollHorizontalQRX(REALpicture pic, int32_t delta, signed char wrap, signed char scrollmask);
// "ScrollQRX(deltaX as integer, deltaY as integer, wrap as boolean, scrollmask as boolean) as
// boolean": horizontally, then vertically; the result is the vertical one.
bool ScrollQRX(REALpicture pic, int32_t deltaX, int32_t deltaY, signed char wrap,
               signed char scrollmask);

// ---- Transparency (masks.cpp) ----

// "HasMaskQRX as boolean": the host keeps a separate mask picture for pic.
bool PictureHasMask(REALpicture pic);
// "EmbeddedMaskQRX(swap as boolean) as picture", read: a new gray picture whose gray is each
// pixel's alpha (255 minus it with swap), or nil.
REALpicture GetEmbededMask(REALpicture pic, signed char swap);
// "EmbeddedMaskQRX(swap as boolean) as picture", assigned: writes each pixel's alpha from the red
// of mask (255 minus it with swap), in place; red, green and blue stay.
void SetEmbededMask(REALpicture pic, signed char swap, REALpicture mask);

// ---- Contrast and brightness of a whole picture (contrast.cpp, brightness.cpp) ----
// Contrast spreads components around the pivot 127, alone or combined in one pass with a
// brightness change. Absolute brightness adds an amount to each component, clamped; linear
// brightness maps each component onto a narrower range touching white or black.

// "ChangeContrastQRX(Contrast as double) as picture"
REALpicture ContrastPicture1(REALpicture pic, double contrast);
// "ChangeContrastQRX(ContrastRed as double, ContrastGreen as double, ContrastBlue as double) as
// picture"
REALpicture ContrastPicture3(REALpicture pic, double red, double green, double blue);
// "ChangeContrastBrightnessAbsoluteQRX(Contrast as double, Brightness as double) as picture"
REALpicture ContrastAbsBrightnessPicture1(REALpicture pic, double contrast, double brightness);
// "ChangeContrastBrightnessAbsoluteQRX(ContrastRed as double, ContrastGreen as double,
// ContrastBlue as double, BrightnessRed as double, BrightnessGreen as double, BrightnessBlue as
// double) as picture"
REALpicture ContrastAbsBrightnessPicture3(REALpicture pic, double contrastRed, double contrastGreen,
                                          double contrastBlue, double brightnessRed,
                                          double brightnessGreen, double brightnessBlue);
// "ChangeContrastBrightnessLinearQRX(Contrast as double, Brightness as double) as picture"
REALpicture ContrastLinBrightnessPicture1(REALpicture pic, double contrast, double brightness);
// "ChangeContrastBrightnessLinearQRX(ContrastRed as double, ContrastGreen as double,
// ContrastBlue as double, BrightnessRed as double, BrightnessGreen as double, BrightnessBlue as
// double) as picture"
REALpicture ContrastLinBrightnessPicture3(REALpicture pic, double contrastRed, double contrastGreen,
                                          double contrastBlue, double brightnessRed,
                                          double brightnessGreen, double brightnessBlue);
// "ChangeBrightnessAbsoluteQRX(Brightness as double) as picture"
REALpicture AbsBrightnessPicture1(REALpicture pic, double brightness);
// "ChangeBrightnessAbsoluteQRX(BrightnessRed as double, BrightnessGreen as double,
// BrightnessBlue as double) as picture"
REALpicture AbsBrightnessPicture3(REALpicture pic, double red, double green, double blue);
// "ChangeBrightnessLinearQRX(Brightness as double) as picture"
REALpicture LinBrightnessPicture1(REALpicture pic, double brightness);
// "ChangeBrightnessLinearQRX(BrightnessRed as double, BrightnessGreen as double,
// BrightnessBlue as double) as picture"
REALpicture LinBrightnessPicture3(REALpicture pic, double red, double green, double blue);

// ---- Per-component transforms of a whole picture (custom.cpp) ----

// "ChangeCustomQRX(a as double, b as double) as picture": each component mapped by v * a + b.
REALpicture TransformPicture(REALpicture pic, double a, double b);
// "ChangeSaturationQRX(Amount as integer) as picture": colour saturation changed around each
// pixel's gray value.
REALpicture SaturationPicture(REALpicture pic, int32_t amount);

// ---- Inversion of all pixels, or of the gray pixels only (invert.cpp) ----

// "InvertQRX(left as integer,top as integer,width as integer,height as integer) as picture":
// a width or height below 1 means the picture's.
REALpicture InvertPicture(REALpicture pic, int32_t left, int32_t top, int32_t width,
                          int32_t height);
// "InvertQRX as picture"
REALpicture InvertPicture2(REALpicture pic);
// "InvertGrayQRX(left as integer,top as integer,width as integer,height as integer) as picture":
// a negative width or height means the picture's; zero means an empty rectangle.
REALpicture InvertGrayPicture(REALpicture pic, int32_t left, int32_t top, int32_t width,
                              int32_t height);
// "InvertGrayQRX as picture"
REALpicture InvertGrayPicture2(REALpicture pic);

// ---- The black-on-white mask of the coloured areas' rectangles (rect_mask.cpp) ----

// "ExtractColorRectangleMaskQRX(left as integer,top as integer,width as integer,height as
// integer) as picture": the coloured pixels (red, green and blue not all equal) inside the clipped
// rectangle are grouped into areas, each covered by a rectangle grown from its first pixel one
// edge step per pass while the row or column just outside holds a coloured pixel. The mask has
// the source's size: black inside the rectangles, white elsewhere, opaque. A negative width or
// height means the picture's; zero gives an all-white mask. Nil for a nil or unreadable picture,
// maps that cannot be allocated, or a writer that cannot be made.
REALpicture ExtractColorRectangleMaskQRX(REALpicture pic, int32_t left, int32_t top, int32_t width,
                                         int32_t height);
// "ExtractColorRectangleMaskQRX as picture": the whole picture.
REALpicture ExtractColorRectangleMaskQRX2(REALpicture pic);

// ---- Colour statistics and remapping through MemoryBlock tables (counting.cpp) ----

// Bytes of a histogram block: 256 unsigned 32-bit counters in native byte order.
constexpr int32_t kHistogramBlockSize = 1024;
// Bytes of a lookup table read from a table block; bytes after them are never read.
constexpr int32_t kTableSize = 256;

// "CountColorQRX(col as color) as integer": the pixels whose red, green and blue are those of
// col (bits 24-31 ignored, alpha never read); 0 for a nil or unreadable picture.
int32_t CountColorQRX(REALpicture pic, uint32_t col);
// "CountColorsQRX(byref red as memoryblock, byref blue as memoryblock, byref green as
// memoryblock, byref count as integer)": adds every pixel's red to the first histogram, its green
// to the second and its blue to the third. A nil block is replaced by a new one handed back to
// the caller. count is W x H, or -1 when a block cannot be made, a block is shorter than 1024
// bytes, or the picture cannot be read; on those paths no histogram is touched.
void CountColorsQRX(REALpicture pic, REALmemoryBlock& red, REALmemoryBlock& blue,
                    REALmemoryBlock& green, int32_t& count);
// "TransformColorsQRX(red as memoryblock, blue as memoryblock, green as memoryblock, dest as
// picture = nil) as picture": each component mapped through the first 256 bytes of its table,
// written into dest when it is at least the source's size, else into a new picture. A nil
// argument raises a NilObjectException; a table without data or shorter than 256 bytes gives nil.
REALpicture TransformColorsQRX(REALpicture pic, REALmemoryBlock red, REALmemoryBlock blue,
                               REALmemoryBlock green, REALpicture dest);

// ---- Replacing or extracting one exact colour (replace_colour.cpp) ----
// Colours are host colours (red in bits 16-23, green 8-15, blue 0-7; bits 24-31 ignored). A
// pixel matches when its red, green and blue equal the search colour's exactly. Every written
// pixel is opaque. A nil or unreadable picture, or a writer that cannot be made, gives nil.

// "ReplaceColorQRX(SearchColor as color, ReplaceWithColor as color) as picture": a copy (with
// an alpha channel when the source has one) with every matching pixel replaced.
REALpicture ReplaceColorQRX(REALpicture pic, uint32_t SearchColor, uint32_t ReplaceWithColor);
// "ExtractColorQRX(SearchColor as color, ReplaceWithColor as color, BackGroundColor as color) as
// picture": ReplaceWithColor where the source matches, BackGroundColor everywhere else.
REALpicture ExtractColorQRX(REALpicture pic, uint32_t SearchColor, uint32_t ReplaceWithColor,
                            uint32_t BackGroundColor);

// ---- Channel replacement (channels.cpp) ----
// A new picture of the source's size whose red, green or blue comes from the channel picture and
// whose two other components come from the source.

// "ReplaceRedChannelQRX(RedChannel as picture) as picture"
REALpicture ReplaceRedChannel(REALpicture pic, REALpicture channel);
// "ReplaceGreenChannelQRX(GreenChannel as picture) as picture"
REALpicture ReplaceGreenChannel(REALpicture pic, REALpicture channel);
// "ReplaceBlueChannelQRX(BlueChannel as picture) as picture"
REALpicture ReplaceBlueChannel(REALpicture pic, REALpicture channel);

// ---- Searching (find.cpp) ----

// "FindPicture(pic as picture, byref x as integer, byref y as integer) as boolean": true when
// pic occurs in haystack, red, green and blue equal pixel for pixel (alpha is not compared); x
// and y then hold the top-left position of the first occurrence in row-major order, else 0 and 0.
bool FindPicture(REALpicture haystack, REALpicture pic, int32_t& x, int32_t& y);

// ---- Whether a picture, or a rectangle of it, is all white, black or gray (colour_tests.cpp) ----
// The rectangle (left, top, width, height) is clipped to the picture; a negative width or height
// means the picture's, the rectangle still starting at left or top, and zero means an empty
// rectangle, which passes. A nil or unreadable picture gives false. Alpha is never read.

// "isWhiteQRX as boolean"
bool isWhite2(REALpicture pic);
// "isWhiteQRX(left as integer,top as integer,width as integer,height as integer) as boolean"
bool isWhite(REALpicture pic, int32_t left, int32_t top, int32_t width, int32_t height);
// "isBlackQRX as boolean"
bool isBlack2(REALpicture pic);
// "isBlackQRX(left as integer,top as integer,width as integer,height as integer) as boolean"
bool isBlack(REALpicture pic, int32_t left, int32_t top, int32_t width, int32_t height);
// "isGrayQRX(tolerance as integer = 0) as boolean"
bool isGray2(REALpicture pic, int32_t tolerance);
// "isGrayQRX(tolerance as integer, left as integer,top as integer,width as integer,height as
// integer) as boolean": red, green and blue pairwise within the absolute value of tolerance.
bool isGray(REALpicture pic, int32_t tolerance, int32_t left, int32_t top, int32_t width,
            int32_t height);

// ---- Global methods ----

// "BinaryStringtoPictureQRX(data as String) as Picture": a new opaque picture, or nil for a
// string that is not a complete, consistent binary picture: a 40-byte "PPIC" header (32-bit
// big-endian fields) followed by 24-bit pixels, red, green, blue, rows from the top, no padding
// (binary_string.cpp).
REALpicture BinaryStringtoPicture(REALstring data);
// "PicturetoBinaryStringQRX(p as picture) as string": the picture as such a string; nil when the
// picture cannot be read or is too large for the format.
REALstring PicturetoBinaryString(REALpicture p);
// "CombinePicturesQRX(red as picture, blue as picture, green as picture) as picture": each
// picture feeds the component its parameter is named after; the three must be of one size
// (combine.cpp).
REALpicture CombinePicturesQRX(REALpicture red, REALpicture blue, REALpicture green);
// "MergePictureQRX(source1 as picture, source2 as picture) as picture": per pixel and component
// the larger of the two values; the two must be of one size.
REALpicture MergePicture(REALpicture source1, REALpicture source2);
// "TintPictureQRX(source as picture, GreyBase as color, SepiaBase as color) as picture": every
// pixel reduced to a gray level, red, green and blue weighted by the grey base's components over
// 255; each result component is the level times the sepia base's component over 255, at most 255
// (tint.cpp).
REALpicture TintPicture(REALpicture source, uint32_t GreyBase, uint32_t SepiaBase);
// "RenderSamplesQRX(Samples as memoryblock, SampleCount as integer, Smooth as integer, Width as
// integer, Height as integer, outlinewidth as integer, BackColor as color=&c88B5C4, ForeColor as
// color=&c274C5A, OutLineColor as color=&c203F4E, Bits as Integer = 8, AutoScale as boolean =
// false) as Picture": a waveform overview of 8- or 16-bit samples (render_samples.cpp).
REALpicture RenderSamples(REALmemoryBlock Samples, int SampleCount, int Smooth, int Width,
                          int Height, int outlinewidth, unsigned int BackColor,
                          unsigned int ForeColor, unsigned int OutLineColor, int Bits,
                          signed char AutoScale);

// ---- PictureLut3DQRX (filters/lut3d.cpp) ----

namespace lut3d {

// Called for each new object: the host has zeroed the instance data, nothing more to do.
void Lut3DClassConstructor(REALobject instance);
// Called when an object dies, and the body of "Close": drops the two picture references and sets
// the fields to nil; the rectangle and the table stay. Harmless when called again.
void Lut3DClassDestructor(REALobject instance);
// "Run as boolean": maps the rectangle of SourcePicture through the table into a new picture held
// in DestinationPicture. The previous DestinationPicture is dropped first, whatever the outcome.
bool Run(REALobject instance);
// "Table(r as UInt32, g as UInt32, b as UInt32, x as UInt32) as double": entry (r, g, b, x), or
// 0.0 when r, g or b is above 17 or x above 2.
double GetPMX(REALobject instance, uint32_t r, uint32_t g, uint32_t b, uint32_t x);
// Assignment to "Table": stores value at (r, g, b, x); an index out of range is ignored.
void SetPMX(REALobject instance, uint32_t r, uint32_t g, uint32_t b, uint32_t x, double value);

} // namespace lut3d

// ---- PictureSepiaQRX (filters/sepia.cpp) ----

namespace sepia {

// Called for each new object: the weights become 0.299, 0.587 and 0.114; everything else stays as
// the host zeroed it.
void PictureSepiaClassConstructor(REALobject instance);
// Called when an object dies, and the body of "Close": drops the two picture references and sets
// the fields to nil; weights, rectangle and offsets stay. Harmless when called again.
void PictureSepiaClassDestructor(REALobject instance);
// "Run as boolean": the sepia picture of the rectangle of SourcePicture, stored in
// DestinationPicture. On failure DestinationPicture is left as it was.
bool Run(REALobject instance);
// Accessors of "FactorRed", "FactorGreen" and "FactorBlue". The property parameter is ignored.
double GetFactorR(REALobject instance, int32_t param);
double GetFactorG(REALobject instance, int32_t param);
double GetFactorB(REALobject instance, int32_t param);
void SetFactorR(REALobject instance, int32_t param, double value);
void SetFactorG(REALobject instance, int32_t param, double value);
void SetFactorB(REALobject instance, int32_t param, double value);

} // namespace sepia

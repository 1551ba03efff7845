// Copies of host pictures: a new 32-bit picture with the source drawn into it.
#pragma once

#include "sdk/records.h"

// New picture of src's size with src drawn into it (the caller owns one reference), or null.
REALpicture ClonePicture(REALpicture src);

// Draws the source rectangle (sx, sy, sw, sh) of src into the rectangle (x, y, w, h) of dest,
// through g's own DrawPicture when the host offers it, else by OwnCopy.
bool GraphicsDrawPicture(REALgraphics g, REALpicture dest, REALpicture src, int x, int y, int w,
                         int h, int sx, int sy, int sw, int sh);

// Copies the rows of one true-colour image record into another of the same size; only a whole
// picture copy (no offsets, equal rectangles) is attempted.
bool OwnCopy(REALpicture dest, REALpicture src, int x, int y, int w, int h, int sx, int sy, int sw,
             int sh);

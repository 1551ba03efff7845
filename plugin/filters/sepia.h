// PictureSepiaQRX: turns a rectangle of a picture into a weighted gray plus per-channel offsets.
#pragma once

#include <cstdint>

#include "filters/sepia_data.h"
#include "sdk/records.h"

// The class record of PictureSepiaQRX (registration tables); the key to an object's instance data.
extern REALclassDefinition PictureSepiaClass;

namespace sepia {

// Called for each new object: the weights become 0.299, 0.587 and 0.114; everything else stays as
// the host zeroed it.
void PictureSepiaClassConstructor(REALobject instance);
// Called when an object dies, and the body of "Close": drops the two picture references and sets
// the fields to nil; weights, rectangle and offsets stay. Harmless when called again.
void PictureSepiaClassDestructor(REALobject instance);

// Accessors of "FactorRed", "FactorGreen" and "FactorBlue". The property parameter is ignored.
double GetFactorR(REALobject instance, int32_t param);
double GetFactorG(REALobject instance, int32_t param);
double GetFactorB(REALobject instance, int32_t param);
void SetFactorR(REALobject instance, int32_t param, double value);
void SetFactorG(REALobject instance, int32_t param, double value);
void SetFactorB(REALobject instance, int32_t param, double value);

// "Run as boolean": the sepia picture of the rectangle of SourcePicture, stored in
// DestinationPicture. On failure DestinationPicture is left as it was.
bool Run(REALobject instance);

// A weight as the integer factor of a run: weight x 1024 truncated toward zero. NaN and values
// outside the 32-bit range give INT32_MIN, the processor's answer for a truncating conversion it
// cannot represent.
int32_t IntegerWeight(double weight);

// The gray value of a colour under integer weights: the weighted sum over 1024, in wrapping 32-bit
// arithmetic, the division truncating toward zero.
int32_t GrayValue(int red, int green, int blue, int32_t kR, int32_t kG, int32_t kB);

} // namespace sepia

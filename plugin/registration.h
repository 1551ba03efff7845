// The static tables that describe the plugin's classes, properties and methods to the host.
//
// The records are writable: the console flags and data sizes are adapted in place for the host
// before registration.
#pragma once

#include <span>

#include "sdk/records.h"

// The extension of the host's Picture class and its methods, in registration order.
extern REALclassDefinition pictureClass;
extern REALmethodDefinition pictureMethods[];

// The global methods, in registration order.
extern const std::span<REALmethodDefinition> globalMethods;

// The plugin's own classes, in registration order: PictureSepiaClass, then Lut3DClass. A class
// joins the list once its functions exist.
extern const std::span<REALclassDefinition* const> registeredClasses;

// Small models of the picture operations: plain per-pixel code on R G B A images, written from
// each operation's rules (rectangle clipping, rounding, clamping, channel order), with no pixel
// layouts, tables or vector code. The differential driver holds the plugin to them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "qrx/image.h"
#include "qrx/value.h"

namespace model {

using qrx::Image;

// A value as the models see it: nil, a number, a flag, a colour, a picture, or bytes (a
// MemoryBlock's or a String's).
using Val = std::variant<std::monostate, int32_t, double, bool, qrx::Color, Image, std::string>;

// What a call gives: its result, the value of each parameter after the call (nil for those not
// passed by reference) and the class of the host exception it raised, if any.
struct Outcome {
    Val result;
    std::vector<Val> byRef;
    std::string exception;
    std::optional<Image> self; // the receiver after the call, when the call changes it in place
};

// The host the call runs on, as far as the results depend on it.
struct Ctx {
    std::optional<double> version;
    uint8_t plainFill[4] = {255, 255, 255, 255}; // what an unwritten pixel reads as
    uint8_t alphaFill[4] = {0, 0, 0, 0};
    bool plainLockRefused = false; // plain pictures handed in cannot be written in place
    bool offscreenWorlds = false;  // desktop pictures are also legacy offscreen worlds
    bool paddedRows = false;       // rows hold bytes beyond their pixels
    bool records = false; // pictures are true-colour records, whose top byte is a transparency
};

// One model: the arguments as passed (the receiving picture first for a Picture method).
using Fn = Outcome (*)(const Ctx&, const std::vector<Val>&);

// The model of a registered method by name and arity (the receiver counted), or null.
Fn find(const std::string& method, size_t arity);

// The picture's content moved by (dx, dy): a rotation, or a shift that leaves opaque white where
// nothing came in.
Image moved(const Image& src, int64_t dx, int64_t dy, bool wrapAround);

// The bytes of a binary picture string for an image (exposed for the round-trip properties).
std::string binaryString(const Image& img);

// A host value as the models see it: pictures as images, MemoryBlocks and Strings as bytes.
Val fromHost(const qrx::Value& v);

// The first difference between a model's value and the plugin's, or "". Pictures without an
// alpha channel are compared in red, green and blue (their fourth byte may be padding).
std::string differ(const Val& want, const Val& got);

} // namespace model

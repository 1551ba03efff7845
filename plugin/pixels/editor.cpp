#include "pixels/editor.h"

#include <cstddef>

#include "bitmap_context.h"
#include "host/helpers.h"
#include "host/services.h"
#include "pixels/copy.h"

bool IsDesktop = false;
bool IsConsole = false;

namespace {

constexpr int kMaxNewPictureSide = 32767;
constexpr int32_t kNewPictureDepth = 32;

bool IsNewPictureSize(int width, int height) {
    return width >= 1 && width <= kMaxNewPictureSide && height >= 1 && height <= kMaxNewPictureSide;
}

// Desktop hosts have an Application class; console and web hosts one of the other two.
void DecideHostKind() {
    if (IsDesktop || IsConsole) return;
    const bool desktop = REALGetClassRef("Application") != nullptr;
    const bool web = REALGetClassRef("WebApplication") != nullptr;
    const bool console = REALGetClassRef("ConsoleApplication") != nullptr;
    if (desktop)
        IsDesktop = true;
    else if (web || console)
        IsConsole = true;
}

// Takes over a new picture for writing and drops the creator's reference to it.
bool AcquireNewPicture(PictureEditor& editor, REALpicture pic) {
    const bool acquired = editor.GetPictureEditor(pic, 0, 1);
    REALUnlockObject(pic);
    return acquired;
}

} // namespace

bool REALLockPictureDescriptionX(REALpicture pic, REALpictureDescription* desc, int type) {
    if (REALLockPictureDescription(pic, desc, static_cast<uint32_t>(type))) return true;
    // Older hosts keep part of a failed lock, which an unlock undoes.
    if (gHostVersion < kHostVersionLockWithoutUnlock) REALUnlockPictureDescription(pic);
    return false;
}

PictureEditor::~PictureEditor() {
    clear();
}

bool PictureEditor::GetPictureEditor(REALpicture pic, signed char allowCopy,
                                     signed char forWriting) {
    clear();
    if (!pic) return false;
    clearCacheOnRelease = forWriting != 0;
    DecideHostKind();

    uint8_t alphaChannel = 0;
    hasAlpha =
        REALGetPropValueUInt8(ToObject(pic), "HasAlphaChannel", &alphaChannel) && alphaChannel != 0;

    if (!IsConsole) {
        if (REALLockPictureDescriptionX(pic, &description, kPictureTypeBitmapContext))
            return AcquireBitmap(pic);
        // A plain picture that cannot hand out its bitmap is read from a copy drawn into a new
        // picture. A new picture always hands out its bitmap unless the lock service itself is
        // missing; then copying the copy again could never succeed, so the copy is acquired
        // without a further copy and goes on to the record path.
        if (!hasAlpha && allowCopy && !forWriting) {
            if (REALpicture copy = ClonePicture(pic)) {
                const bool acquired = GetPictureEditor(copy, 0, 0);
                REALUnlockObject(copy);
                return acquired;
            }
        }
    }
    return AcquireRecord(pic);
}

bool PictureEditor::GetPictureEditor(REALpicture pic) {
    return GetPictureEditor(pic, 1, 1);
}

// With the type 8 description locked: take the rows from the bitmap context.
bool PictureEditor::AcquireBitmap(REALpicture pic) {
    IsDesktop = true;
    auto* context = static_cast<CGContextRef>(description.data);
    if (description.pictureType == kPictureTypeBitmapContext && context) {
        void* data = CGBitmapContextGetData(context);
        const size_t bitsPerPixel = CGBitmapContextGetBitsPerPixel(context);
        const size_t contextWidth = CGBitmapContextGetWidth(context);
        const size_t contextHeight = CGBitmapContextGetHeight(context);
        const size_t contextBytesPerRow = CGBitmapContextGetBytesPerRow(context);
        const uint32_t alphaInfo = CGBitmapContextGetAlphaInfo(context) & 7u;

        // With an alpha channel only the premultiplied layouts are read.
        const bool layoutAccepted = hasAlpha ? (alphaInfo == kCGImageAlphaPremultipliedLast ||
                                                alphaInfo == kCGImageAlphaPremultipliedFirst)
                                             : (alphaInfo >= kCGImageAlphaPremultipliedLast &&
                                                alphaInfo <= kCGImageAlphaNoneSkipFirst);
        if (layoutAccepted && bitsPerPixel == 32) {
            pixelType = static_cast<RBPixelType>(alphaInfo);
            descriptionLocked = true;
            REALLockObject(pic);
            picture = pic;
            bytesPerRow = static_cast<int32_t>(contextBytesPerRow);
            baseAddress = static_cast<uint32_t*>(data);
            rowPointer = baseAddress;
            width = static_cast<int32_t>(contextWidth);
            height = static_cast<int32_t>(contextHeight);
            rowIndex = 0;
            return true;
        }
    }
    REALUnlockPictureDescription(pic);
    return false;
}

// Console and web hosts: the rows of a true-colour image record.
bool PictureEditor::AcquireRecord(REALpicture pic) {
    if (IsDesktop) return false;
    if (!REALLockPictureDescriptionX(pic, &description, kPictureTypeTrueColorImage)) return false;
    IsConsole = true;
    auto* image = static_cast<REALtrueColorImage*>(description.data);
    if (description.pictureType != kPictureTypeTrueColorImage || !image || image->paletteRowTable ||
        !image->isTrueColor || !image->rowTable) {
        REALUnlockPictureDescription(pic);
        return false;
    }
    REALLockObject(pic);
    picture = pic;
    descriptionLocked = true;
    pixelType = kRBPixelTrueColor;
    rowIndex = 0;
    width = description.width;
    height = description.height;
    bytesPerRow = width * 4;
    rowTable = image->rowTable;
    baseAddress = rowTable[0];
    rowPointer = baseAddress;
    return true;
}

uint32_t* PictureEditor::GetRow(int y) {
    rowIndex = y;
    if (y >= height) return baseAddress;
    if (pixelType == kRBPixelTrueColor) return rowTable[y];
    return reinterpret_cast<uint32_t*>(reinterpret_cast<unsigned char*>(baseAddress) +
                                       static_cast<std::ptrdiff_t>(y) * bytesPerRow);
}

void PictureEditor::AddPixelRow() {
    rowPointer = GetRow(rowIndex + 1);
}

void PictureEditor::clear() {
    if (descriptionLocked) {
        if (picture) REALUnlockPictureDescription(picture);
        descriptionLocked = false;
    }
    if (clearCacheOnRelease && picture) REALPictureClearCache(picture);
    if (picture) {
        REALUnlockObject(picture);
        picture = nullptr;
    }
}

REALpicture PictureEditor::RenderPictureWriter() {
    REALpicture result = picture;
    if (result) {
        REALLockObject(result);
        REALPictureClearCache(result);
    }
    clear();
    return result;
}

bool PictureReader::GetPictureReader(REALpicture pic) {
    return GetPictureEditor(pic, 1, 0);
}

bool PictureWriter::NewPictureWriter(int newWidth, int newHeight) {
    clear();
    if (!IsNewPictureSize(newWidth, newHeight)) return false;
    REALpicture pic = REALNewPicture(newWidth, newHeight, kNewPictureDepth);
    if (!pic) return false;
    return AcquireNewPicture(*this, pic);
}

bool PictureWriter::NewPictureWriter(PictureReader& reader) {
    clear();
    const int newWidth = reader.width;
    const int newHeight = reader.height;
    REALpicture pic = nullptr;
    if (reader.hasAlpha) {
        // Pictures with an alpha channel are made through the Picture class's constructor.
        if (newWidth < 1 || newHeight < 1 || gHostVersion < kHostVersionAlphaWriters) return false;
        REALobject instance = REALnewInstance("Picture");
        if (!instance) return false;
        using Constructor = void (*)(REALobject, int32_t, int32_t);
        auto constructor = reinterpret_cast<Constructor>(
            REALLoadObjectMethod(instance, "Constructor(width as integer, height as integer)"));
        if (!constructor) {
            REALUnlockObject(instance);
            return false;
        }
        constructor(instance, newWidth, newHeight);
        pic = reinterpret_cast<REALpicture>(instance);
    } else {
        if (!IsNewPictureSize(newWidth, newHeight)) return false;
        pic = REALNewPicture(newWidth, newHeight, kNewPictureDepth);
        if (!pic) return false;
    }
    return AcquireNewPicture(*this, pic);
}

bool PictureWriter::NewPictureWriter(REALpicture pic, int newWidth, int newHeight) {
    if (pic && GetPictureWidth(pic) >= newWidth && GetPictureHeight(pic) >= newHeight &&
        GetPictureEditor(pic, 0, 1))
        return true;
    return NewPictureWriter(newWidth, newHeight);
}

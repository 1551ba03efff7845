#include "filter_run.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ostream>
#include <string_view>
#include <type_traits>
#include <vector>

#include "errors.h"
#include "image_io.h"

namespace qrx::cli {

namespace {

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> fields(const std::string& option, const std::string& text,
                                     size_t count, const char* form) {
    std::vector<std::string_view> out;
    std::string_view rest = text;
    while (true) {
        size_t comma = rest.find(',');
        out.push_back(trimmed(rest.substr(0, comma)));
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    if (out.size() != count)
        throw UsageError(option + ": '" + text + "' is not " + form + " (" + std::to_string(count) +
                         " values separated by commas)");
    return out;
}

template <class T> T parseField(const std::string& option, std::string_view field) {
    std::string_view f = field;
    if (!f.empty() && f.front() == '+') f.remove_prefix(1);
    T v{};
    // One sign at most: "+-1" and "++1" are refused.
    bool ok = !f.empty() && f.front() != '+' && !(f.front() == '-' && f.size() < field.size());
    if (ok) {
        auto [end, ec] = std::from_chars(f.data(), f.data() + f.size(), v);
        ok = ec == std::errc() && end == f.data() + f.size();
    }
    if constexpr (std::is_floating_point_v<T>) ok = ok && std::isfinite(v);
    if (!ok)
        throw UsageError(option + ": '" + std::string(field) + "' is not " +
                         (std::is_floating_point_v<T> ? "a number" : "a 32-bit integer"));
    return v;
}

} // namespace

std::array<int32_t, 4> parseRect(const std::string& option, const std::string& text) {
    auto f = fields(option, text, 4, "MINX,MINY,MAXX,MAXY");
    std::array<int32_t, 4> out{};
    for (size_t i = 0; i < 4; ++i)
        out[i] = parseField<int32_t>(option, f[i]);
    return out;
}

std::array<int32_t, 3> parseIntegers3(const std::string& option, const std::string& text) {
    auto f = fields(option, text, 3, "R,G,B");
    std::array<int32_t, 3> out{};
    for (size_t i = 0; i < 3; ++i)
        out[i] = parseField<int32_t>(option, f[i]);
    return out;
}

std::array<double, 3> parseNumbers3(const std::string& option, const std::string& text) {
    auto f = fields(option, text, 3, "R,G,B");
    std::array<double, 3> out{};
    for (size_t i = 0; i < 3; ++i)
        out[i] = parseField<double>(option, f[i]);
    return out;
}

Image readInputImage(const std::string& path) {
    try {
        return readImage(path);
    } catch (const ImageFileError& e) {
        throw UsageError(std::string("IN: ") + e.what());
    }
}

PictureWriteOptions pictureWriteOptions(const Context& ctx) {
    PictureWriteOptions options;
    options.format = ctx.output.format == "jpg" ? "jpeg" : ctx.output.format;
    options.quality = ctx.output.quality;
    options.standardOutput = &ctx.out;
    options.metadata = ctx.metadata;
    return options;
}

void checkOutputPath(const Context& ctx, const std::string& path) {
    try {
        checkPictureFile(path, ctx.output.format);
    } catch (const ImageFileError& e) {
        throw UsageError(std::string("-o: ") + e.what());
    }
}

void reportWritten(const Context& ctx, const std::string& path, const Ref& picture) {
    if (!ctx.output.verbose) return;
    const Picture* pic = picture ? picture.as<Picture>() : nullptr;
    ctx.err << "qrx: wrote " << (isStandardStream(path) ? "standard output" : path);
    if (pic) ctx.err << " (" << pic->width() << "x" << pic->height() << ")";
    ctx.err << "\n";
}

PixelRect filteredRect(const std::optional<std::array<int32_t, 4>>& rect, int width, int height) {
    if (!rect) return {0, 0, width, height};
    const auto [minX, minY, maxX, maxY] = *rect;
    PixelRect r;
    r.x0 = std::max(minX, 0);
    r.y0 = std::max(minY, 0);
    r.x1 = maxX > minX && maxX < width ? maxX : width;
    r.y1 = maxY > minY && maxY < height ? maxY : height;
    return r;
}

Image keepSourceAround(Image source, const Image& filtered, const PixelRect& rect) {
    for (int y = rect.y0; y < rect.y1; ++y)
        for (int x = rect.x0; x < rect.x1; ++x)
            std::copy_n(filtered.pixel(x, y), 3, source.pixel(x, y));
    return source;
}

void writeFilterResult(Context& ctx, Host& host, const Ref& result, const Image& input,
                       const PixelRect& rect, bool raw, const std::string& output) {
    try {
        if (raw) {
            savePicture(host, output, result, pictureWriteOptions(ctx));
        } else {
            savePicture(host, output,
                        keepSourceAround(input, result.as<Picture>()->toImage(), rect),
                        pictureWriteOptions(ctx));
        }
    } catch (const ImageFileError& e) {
        throw UsageError(std::string("-o: ") + e.what());
    }
    reportWritten(ctx, output, result);
}

int runFilterObject(Context& ctx, Host& host, const Ref& obj, const Image& input,
                    const std::optional<std::array<int32_t, 4>>& rect, bool raw,
                    const std::string& output) {
    const std::string cls = obj->className();
    ctx.metadata = input.metadata;
    try {
        Ref source = hostPicture(host, input, "IN");
        host.setProperty(obj, "SourcePicture", source);
        std::array<int32_t, 4> r = rect.value_or(std::array<int32_t, 4>{0, 0, 0, 0});
        host.setProperty(obj, "MinX", r[0]);
        host.setProperty(obj, "MinY", r[1]);
        host.setProperty(obj, "MaxX", r[2]);
        host.setProperty(obj, "MaxY", r[3]);
    } catch (const CallError& e) {
        throw UsageError(e.what());
    }

    CallResult res;
    try {
        res = host.call(obj, "Run", {});
    } catch (const CallError& e) {
        throw UsageError(e.what());
    }
    if (res.exception) {
        ctx.err << "qrx: " << cls << ".Run raised " << res.exception->className << ": "
                << res.exception->message << "\n";
        return kExitCallFailed;
    }
    const bool* ok = std::get_if<bool>(&res.result);
    if (!ok || !*ok) {
        ctx.err << "qrx: " << cls << ".Run answered false: no result picture\n";
        return kExitCallFailed;
    }
    Value dest = host.getProperty(obj, "DestinationPicture");
    const Ref* ref = std::get_if<Ref>(&dest);
    const Picture* pic = ref ? ref->as<Picture>() : nullptr;
    if (!pic) {
        ctx.err << "qrx: " << cls << ".Run answered true but DestinationPicture is nil\n";
        return kExitCallFailed;
    }
    if (pic->width() != input.width || pic->height() != input.height) raw = true;
    writeFilterResult(ctx, host, *ref, input, filteredRect(rect, input.width, input.height), raw,
                      output);
    return kExitOk;
}

} // namespace qrx::cli

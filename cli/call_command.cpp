// qrx call: one method of the plugin, on a picture file or as a global method.
#include <algorithm>
#include <ostream>

#include <nlohmann/json.hpp>

#include "binding.h"
#include "call_expr.h"
#include "commands.h"
#include "errors.h"
#include "filter_run.h"
#include "host_pictures.h"
#include "image_io.h"
#include "qrx/pixel_buffer.h"
#include "value_out.h"

namespace qrx::cli {

namespace {

using nlohmann::json;

// The methods a call may name: plugin methods and extensions of Picture, or global methods.
std::vector<const MethodInfo*> candidates(const Host& host, const std::string& name,
                                          bool onPicture) {
    std::vector<const MethodInfo*> out;
    auto all = onPicture ? host.overloads("Picture", name) : host.globalOverloads(name);
    for (const MethodInfo* m : all)
        if (!m->builtIn) out.push_back(m);
    return out;
}

std::vector<std::string> methodNames(const Host& host, bool onPicture) {
    std::vector<std::string> names;
    if (onPicture) {
        if (const ClassInfo* pic = host.findClass("Picture"))
            for (const auto* list : {&pic->methods, &pic->extensions})
                for (const MethodInfo& m : *list)
                    if (!m.builtIn) names.push_back(m.decl.name);
    } else {
        for (const MethodInfo& m : host.globalMethods())
            names.push_back(m.decl.name);
    }
    return names;
}

[[noreturn]] void unknownMethod(const Host& host, const std::string& name, bool onPicture) {
    std::string msg = onPicture ? "Picture has no method '" + name + "'"
                                : "there is no global method '" + name + "'";
    if (!candidates(host, name, !onPicture).empty())
        msg += onPicture ? "; it is a global method: leave out --on"
                         : "; it is a Picture method: give the picture with --on PICTURE";
    auto close = closestNames(name, methodNames(host, onPicture));
    if (!close.empty()) {
        msg += "; did you mean ";
        for (size_t i = 0; i < close.size(); ++i)
            msg += (i ? (i + 1 == close.size() ? " or " : ", ") : "") + close[i];
        msg += "?";
    }
    msg += close.empty() ? "; 'qrx list' shows every method, 'qrx list WORD' those whose name or "
                           "declaration holds WORD"
                         : "";
    throw UsageError(msg);
}

// One --save: the byref MemoryBlock output at parameter index, and the file it goes to.
struct SaveRequest {
    size_t index;
    std::string name;
    std::string path;
};

std::vector<SaveRequest> parseSaves(const std::vector<std::string>& saves, const MethodInfo& method,
                                    const BoundArgs& args) {
    std::vector<SaveRequest> out;
    for (const std::string& s : saves) {
        const size_t eq = s.find('=');
        if (eq == std::string::npos || eq == 0 || eq + 1 == s.size())
            throw UsageError("--save " + s + ": expected NAME=PATH");
        const std::string name = s.substr(0, eq);
        std::optional<size_t> index;
        for (size_t i = 0; i < args.outputNames.size() && i < method.decl.params.size(); ++i)
            if (method.decl.params[i].byRef && args.outputNames[i] == name) index = i;
        if (!index) throw UsageError("--save " + s + ": " + name + " is not an output of the call");
        if (method.decl.params[*index].type.kind != TypeKind::MemoryBlock)
            throw UsageError("--save " + s + ": " + name + " is not a MemoryBlock");
        out.push_back({*index, name, s.substr(eq + 1)});
    }
    return out;
}

// Writes every requested block; a nil output saves nothing and fails the command.
int saveOutputs(Context& ctx, const std::vector<SaveRequest>& saves, const CallResult& r) {
    int code = kExitOk;
    for (const SaveRequest& s : saves) {
        const Ref* obj = s.index < r.byRef.size() ? std::get_if<Ref>(&r.byRef[s.index]) : nullptr;
        const MemoryBlock* block = obj && *obj ? obj->as<MemoryBlock>() : nullptr;
        if (!block) {
            ctx.err << "qrx: " << s.name << " is nil after the call: nothing written to " << s.path
                    << "\n";
            code = kExitCallFailed;
            continue;
        }
        try {
            writeFileAtomically(s.path, block->bytes.data(), block->bytes.size(), &ctx.out);
        } catch (const ImageFileError& e) {
            throw UsageError(std::string("--save: ") + e.what());
        }
    }
    return code;
}

// The distinct sizes of the pictures among the values, in their order ("160x120").
void addPictureSizes(const Value& v, std::vector<std::string>& sizes) {
    const Ref* ref = std::get_if<Ref>(&v);
    const Picture* pic = ref && *ref ? ref->as<Picture>() : nullptr;
    if (!pic) return;
    const std::string size = std::to_string(pic->width()) + "x" + std::to_string(pic->height());
    if (std::find(sizes.begin(), sizes.end(), size) == sizes.end()) sizes.push_back(size);
}

// The alpha channel of the --on picture, for --keep-alpha.
struct SourceAlpha {
    int width = 0, height = 0;
    bool hasAlpha = false;
    std::vector<uint8_t> alpha; // width * height bytes, top row first
};

SourceAlpha alphaOf(const Image& img) {
    SourceAlpha a{img.width, img.height, img.hasAlpha, {}};
    a.alpha.resize(size_t(img.width) * size_t(img.height));
    for (size_t i = 0; i < a.alpha.size(); ++i)
        a.alpha[i] = img.rgba[i * 4 + 3];
    return a;
}

// The picture -o writes: as the call left it, or with --keep-alpha the source's alpha channel
// put back when the picture has the source's size (otherwise a note says why it is not).
void writeResult(Context& ctx, Host& host, const std::string& path, const Ref& picture,
                 const std::optional<SourceAlpha>& keep) {
    const Picture* pic = picture.as<Picture>();
    if (!keep || !pic) {
        savePicture(host, path, picture, pictureWriteOptions(ctx));
        return;
    }
    if (pic->width() != keep->width || pic->height() != keep->height) {
        ctx.err << "qrx: note: --keep-alpha: the result is " << pic->width() << "x" << pic->height()
                << ", the --on picture " << keep->width << "x" << keep->height
                << ": written without the source's alpha\n";
        savePicture(host, path, picture, pictureWriteOptions(ctx));
        return;
    }
    Image img = pic->toImage();
    img.hasAlpha = keep->hasAlpha;
    for (size_t i = 0; i < keep->alpha.size(); ++i)
        img.rgba[i * 4 + 3] = keep->alpha[i];
    savePicture(host, path, img, pictureWriteOptions(ctx));
}

std::string caretLine(const std::string& text, size_t column) {
    return "  " + text + "\n  " + std::string(column > 0 ? column - 1 : 0, ' ') + "^";
}

} // namespace

CLI::App* addCallCommand(CLI::App& app, Context& ctx, CallOptions& opts) {
    CLI::App* cmd = app.add_subcommand(
        "call", "Call one method the plugin registered: a Picture method on the picture read from "
                "--on, or without --on a global method");
    addHostOptions(*cmd, ctx.host);
    addOutputOptions(*cmd, ctx.output);
    cmd->add_option("--on", opts.on,
                    "Picture file (PNG, JPEG, PAM, PPM, PPIC) the method is called on; - reads "
                    "standard input (the format from its first bytes)");
    cmd->add_option("CALL", opts.call,
                    "The call as in the host language: Name, Name(arg, ...) or Name(args) = value")
        ->required();
    cmd->add_option("-o,--output", opts.output,
                    "Write the picture result here (PNG, JPEG, PAM, PPM or PPIC by extension, or "
                    "--format); for a method that returns no picture, the --on picture as the "
                    "method left it; for a string result, its raw bytes. - writes standard "
                    "output, and the printed results then go to standard error");
    cmd->add_flag("--json", opts.json,
                  "Print exactly one JSON object: {\"result\": ..., \"byref\": {...}, "
                  "\"exception\": null or {\"class\", \"message\"}}; a byref MemoryBlock of "
                  "1024 bytes shows as the list of its 256 32-bit counters");
    cmd->add_flag("--keep-alpha", opts.keepAlpha,
                  "Put the --on picture's alpha channel back onto the picture -o writes when it "
                  "has the --on picture's size (most methods write opaque pixels); default: the "
                  "picture as the method left it");
    cmd->add_option("--save", opts.save,
                    "NAME=PATH: write the bytes of the byref MemoryBlock output NAME to PATH "
                    "(whole or not at all; - : standard output); may be repeated");
    cmd->footer(
        "Arguments are read by the declared parameter types:\n"
        "  integer, uint32   an integer literal: 5, -10, &hFF\n"
        "  double            any number: 1.5, -2, 1e-3\n"
        "  boolean           true or false\n"
        "  color             &cRRGGBB\n"
        "  picture           an image file (PNG, JPEG, PAM, PPM, PPIC), or nil\n"
        "  memoryblock       a file whose raw bytes it holds, or nil\n"
        "  string            a file whose raw bytes it holds (raw-bytes encoding), or nil\n"
        "  byref parameter   an output name; its value after the call is printed under it\n"
        "Omitted trailing arguments take their declared defaults. Paths with blanks, commas\n"
        "or parentheses may be double-quoted (\\\" and \\\\ inside quotes).\n"
        "Output: 'result = ...' and 'name = value' lines; a picture result shows as\n"
        "<Picture WxH>, a MemoryBlock as <MemoryBlock N bytes> and its bytes in hex. A\n"
        "result written with -o is not printed again (-v prints it and what was written).\n"
        "CountColorsQRX(r, g, b, n) fills its first block with the red histogram, its second\n"
        "(declared 'blue') with the green one and its third (declared 'green') with the\n"
        "blue one; n is the number of pixels. TransformColorsQRX(red, blue, green) maps each\n"
        "channel by the table its parameter names.\n"
        "Standard input and output: --on - (or a picture argument -) reads a PNG, JPEG, PAM\n"
        "or PPM by its first bytes, anything else as a binary picture string; -o - writes\n"
        "the picture in the --format given, and it is then the only thing on standard\n"
        "output: the results go to standard error, and --json is refused.\n"
        "Defaults: a desktop host of version 2019.1, pictures without alpha in alpha info 3\n"
        "(bytes R G B A), pictures with alpha in alpha info 1; a new picture starts opaque\n"
        "white (with alpha: transparent black), so pixels a method does not write show as\n"
        "such. -o writes the picture as the method left it; most methods write opaque\n"
        "pixels, so transparency is lost unless --keep-alpha puts the --on picture's alpha\n"
        "back. The plugin library is chosen with the global --plugin PATH (see qrx --help).\n"
        "Exit codes: 0 success; 1 a host exception, or nil where a picture was expected (a\n"
        "note says when the pictures' sizes differ); 2 bad usage, unknown method, no\n"
        "fitting overload, unreadable input.\n"
        "Examples:\n"
        "  qrx call --on samples/sample.png 'InvertQRX(5, 5, 120, 80)' -o out.png\n"
        "  qrx call --on samples/sample.png 'FindPicture(samples/needle.png,x,y)' --json\n"
        "  qrx call --on samples/sample.png 'CountColorsQRX(r, g, b, n)' --save r=red.bin\n"
        "  qrx call 'TintPictureQRX(samples/rings.png, &c808080, &cA0522D)' -o tinted.png\n"
        "  qrx call --host console --on samples/rings.png 'ScrollQRX(5, 3, true, false)'\n"
        "  qrx call --on - InvertQRX -o - --format jpeg <samples/sample.png >inverted.jpg");
    return cmd;
}

int runCall(Context& ctx, const CallOptions& opts) {
    CallExpr call;
    try {
        call = parseCall(opts.call);
    } catch (const CallSyntaxError& e) {
        throw UsageError("CALL: " + std::string(e.what()) + "\n" +
                         caretLine(opts.call, e.column()));
    }

    std::unique_ptr<Host> host = loadHost(ctx.host);
    const bool onPicture = opts.on.has_value();
    auto overloads = candidates(*host, call.name, onPicture);
    if (overloads.empty()) unknownMethod(*host, call.name, onPicture);
    if (call.assigned && !onPicture)
        throw UsageError("assigning to " + call.name + " needs the picture: give --on PICTURE");
    std::string qualified = onPicture ? "Picture." + call.name : call.name;
    const MethodInfo* method = chooseOverload(overloads, call, qualified);

    const bool assigning = call.assigned.has_value();
    const std::optional<Type>& resultType = method->decl.result;
    const bool pictureResult = !assigning && resultType && resultType->kind == TypeKind::Picture;
    const bool stringResult = !assigning && resultType && resultType->kind == TypeKind::String;
    // What goes to standard output: the picture, a saved block, or the printed results; never
    // two of them.
    int toStdout = opts.output && isStandardStream(*opts.output);
    for (const std::string& s : opts.save)
        toStdout += s.size() >= 2 && s.compare(s.size() - 2, 2, "=-") == 0;
    if (toStdout > 1)
        throw UsageError("-o - and --save NAME=- both want standard output; write all but one "
                         "to files");
    if (toStdout && opts.json)
        throw UsageError("--json: standard output carries the output written to -; write it to "
                         "a file, or leave out --json");
    std::ostream& text = toStdout ? ctx.err : ctx.out;
    if (opts.keepAlpha && !onPicture)
        throw UsageError("--keep-alpha: a global method has no source picture whose alpha could "
                         "be kept; use it with --on PICTURE");
    if (opts.keepAlpha && !opts.output)
        throw UsageError("--keep-alpha: no picture is written without -o");
    if (opts.output) {
        if (!pictureResult && !stringResult && !onPicture)
            throw UsageError("-o: " + method->decl.text +
                             " returns no picture and there is no --on picture to write");
        if (!stringResult) {
            try {
                checkPictureFile(*opts.output, ctx.output.format);
            } catch (const ImageFileError& e) {
                throw UsageError(std::string("-o: ") + e.what());
            }
        }
    }

    Ref self;
    std::optional<SourceAlpha> keep;
    if (onPicture) {
        try {
            if (opts.keepAlpha) {
                Image source;
                self = loadPicture(*host, *opts.on, &source, &ctx.metadata);
                keep = alphaOf(source);
            } else {
                self = loadPicture(*host, *opts.on, nullptr, &ctx.metadata);
            }
        } catch (const ImageFileError& e) {
            throw UsageError(std::string("--on: ") + e.what());
        }
    }
    BoundArgs args = bindArguments(*host, *method, call.args);
    const auto& params = method->decl.params;
    const std::vector<SaveRequest> saves = parseSaves(opts.save, *method, args);

    // The methods that combine pictures answer nil for pictures of different sizes; the note on
    // a nil result says when that may be why.
    std::vector<std::string> sizes;
    if (onPicture) addPictureSizes(self, sizes);
    for (const Value& v : args.values)
        addPictureSizes(v, sizes);

    CallResult r;
    try {
        if (assigning) {
            Value value = bindValue(*host, *resultType, *call.assigned, "assigned value");
            r = host->assign(self, call.name, std::move(args.values), std::move(value));
        } else {
            r = host->invoke(*method, self, std::move(args.values));
        }
    } catch (const CallError& e) {
        throw UsageError(e.what());
    }

    int code = kExitOk;
    if (r.exception) {
        ctx.err << "qrx: " << qualified << " raised " << r.exception->className << ": "
                << r.exception->message << "\n";
        code = kExitCallFailed;
    } else if (pictureResult && !std::holds_alternative<Ref>(r.result)) {
        ctx.err << "qrx: " << qualified << " returned nil where a picture was expected\n";
        if (sizes.size() > 1) {
            ctx.err << "qrx: note: sizes differ: ";
            for (size_t i = 0; i < sizes.size(); ++i)
                ctx.err << (i == 0 ? "" : i + 1 == sizes.size() ? " and " : ", ") << sizes[i];
            ctx.err << "\n";
        }
        code = kExitCallFailed;
    }

    // The file goes out before anything is printed, so a failed write leaves no result behind.
    std::optional<std::string> written;
    if (code == kExitOk && opts.output) {
        try {
            const Ref* obj = std::get_if<Ref>(&r.result);
            if (pictureResult) {
                const Picture* pic = obj ? obj->as<Picture>() : nullptr;
                if (!pic) throw UsageError(qualified + " returned something other than a picture");
                // The source picture is not needed any more: its pixels go back to the system
                // (not to the runtime's pool of storage, which no later picture of this command
                // would take) before the result's are encoded, which keeps the peak memory of a
                // large picture down.
                if (obj->get() != self.get()) self.reset();
                drainPixelPool();
                writeResult(ctx, *host, *opts.output, *obj, keep);
                reportWritten(ctx, *opts.output, *obj);
                written = *opts.output;
            } else if (stringResult) {
                // A nil string writes nothing.
                if (const String* str = obj ? obj->as<String>() : nullptr) {
                    auto bytes = str->bytes();
                    writeFileAtomically(*opts.output, bytes.data(), bytes.size(), &ctx.out);
                    if (ctx.output.verbose)
                        ctx.err << "qrx: wrote "
                                << (isStandardStream(*opts.output) ? "standard output"
                                                                   : *opts.output)
                                << " (" << bytes.size() << " bytes)\n";
                    written = *opts.output;
                }
            } else if (onPicture) {
                // The method may have changed the picture in place.
                writeResult(ctx, *host, *opts.output, self, keep);
                reportWritten(ctx, *opts.output, self);
                written = *opts.output;
            }
        } catch (const ImageFileError& e) {
            throw UsageError(std::string("-o: ") + e.what());
        }
    }
    if (code == kExitOk) code = saveOutputs(ctx, saves, r);
    if (opts.json) {
        json byref = json::object();
        for (size_t i = 0; i < args.outputNames.size(); ++i)
            if (params[i].byRef && i < r.byRef.size())
                byref[args.outputNames[i]] =
                    counterListJson(r.byRef[i]).value_or(valueJson(r.byRef[i]));
        json exception = nullptr;
        if (r.exception)
            exception = {{"class", r.exception->className}, {"message", r.exception->message}};
        json result = assigning || !resultType
                          ? json(nullptr)
                          : valueJson(r.result, pictureResult ? written : std::nullopt);
        json doc = {{"result", result}, {"byref", byref}, {"exception", exception}};
        ctx.out << doc.dump(-1, ' ', false, json::error_handler_t::replace) << "\n";
    } else {
        // A result written with -o is not printed again, unless -v asks.
        const bool resultWritten = written && (pictureResult || stringResult);
        if (!assigning && resultType && (!resultWritten || ctx.output.verbose))
            text << "result = " << valueText(r.result) << "\n";
        for (size_t i = 0; i < args.outputNames.size(); ++i)
            if (params[i].byRef && i < r.byRef.size())
                text << args.outputNames[i] << " = " << valueText(r.byRef[i]) << "\n";
    }
    return code;
}

} // namespace qrx::cli

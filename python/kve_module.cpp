// The kve Python module: every effect of the library on numpy arrays.
//
// It translates at the boundary and nothing more: arrays in and out (shape,
// dtype, contiguity, alignment, byte order), the library's results and
// diagnostics into Python exceptions, and the progress monitor into a Python
// callable and Ctrl-C. What the effects are, their parameters and their words
// come from the effect table, so a new row is callable and listed here at once.
#include <Python.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "effects/wipe/wipe.h"
#include "engine/effect_run.h"
#include "engine/effect_table.h"
#include "host/effect_words.h"
#include "host/run_guard.h"
#include "libkve.h"

namespace py = pybind11;

namespace {

using Clock = std::chrono::steady_clock;

// kve.Stopped, created when the module is imported.
PyObject *stoppedType = nullptr;
// The interpreter's main thread, the only one Python delivers Ctrl-C to.
unsigned long mainThread = 0;

// Byte orders of a pixel: the library's (alpha first) and the one most
// Python image code uses (alpha last). Each entry says which source byte
// lands in that destination byte.
using Shuffle = std::array<int, 4>;
constexpr Shuffle kSame = {0, 1, 2, 3};
constexpr Shuffle kRgbaToArgb = {3, 0, 1, 2};
constexpr Shuffle kArgbToRgba = {1, 2, 3, 0};

[[noreturn]] void ThrowValue(const std::string &message) {
    throw py::value_error(message);
}

std::string ShapeText(int64_t height, int64_t width) {
    return "(" + std::to_string(height) + ", " + std::to_string(width) + ", 4)";
}

// An array that holds pixels: (height, width, 4) bytes, any strides. `what`
// names it in messages ("frame 2", "out").
py::array PixelArray(py::handle object, const std::string &what) {
    if (!py::isinstance<py::array>(object))
        throw py::type_error(what +
                             " must be a numpy array of shape (height, width, 4) and dtype uint8, "
                             "not " +
                             std::string(py::str(py::type::handle_of(object).attr("__name__"))));
    auto array = py::reinterpret_borrow<py::array>(object);
    const py::dtype dtype = array.dtype();
    if (dtype.kind() != 'u' || dtype.itemsize() != 1)
        ThrowValue(what + " must have dtype uint8, not " +
                   std::string(py::str(static_cast<const py::handle &>(dtype))));
    if (array.ndim() != 3 || array.shape(2) != 4) {
        std::string shape = "(";
        for (py::ssize_t k = 0; k < array.ndim(); ++k)
            shape += (k ? ", " : "") + std::to_string(array.shape(k));
        shape += array.ndim() == 1 ? ",)" : ")";
        ThrowValue(what + " must have shape (height, width, 4), not " + shape);
    }
    constexpr py::ssize_t kLimit = std::numeric_limits<int32_t>::max();
    if (array.shape(0) < 1 || array.shape(1) < 1)
        ThrowValue(what + " is empty: shape " + ShapeText(array.shape(0), array.shape(1)));
    if (array.shape(0) > kLimit || array.shape(1) > kLimit)
        ThrowValue(what + " is larger than the library handles");
    return array;
}

// A new C-contiguous pixel array with the bytes of `source` reordered.
py::array_t<uint8_t> Reordered(const py::array &source, const Shuffle &shuffle) {
    const py::ssize_t height = source.shape(0), width = source.shape(1);
    py::array_t<uint8_t> copy(std::vector<py::ssize_t>{height, width, 4});
    const auto in = source.unchecked<uint8_t, 3>();
    uint8_t *out = copy.mutable_data();
    for (py::ssize_t y = 0; y < height; ++y)
        for (py::ssize_t x = 0; x < width; ++x, out += 4)
            for (int c = 0; c < 4; ++c)
                out[c] = in(y, x, shuffle[c]);
    return copy;
}

bool IsPlainBuffer(const py::array &array) {
    // The library reads and writes whole 32-bit words, so the buffer must be
    // one C-ordered block on a word boundary.
    return (array.flags() & py::array::c_style) &&
           reinterpret_cast<uintptr_t>(array.data()) % alignof(uint32_t) == 0;
}

bool Overlaps(const py::array &a, const py::array &b) {
    const auto *aStart = static_cast<const uint8_t *>(a.data());
    const auto *bStart = static_cast<const uint8_t *>(b.data());
    return aStart < bStart + b.nbytes() && bStart < aStart + a.nbytes();
}

struct Size {
    int32_t width = 0, height = 0;
};

Size SizeOf(const py::array &frame) {
    return {static_cast<int32_t>(frame.shape(1)), static_cast<int32_t>(frame.shape(0))};
}

// The input frames, checked against each other and the effect.
std::vector<py::array> TakeFrames(const kve::EffectRow &row, const py::args &frames) {
    const int needed = kvehost::ImagesNeeded(row);
    if (static_cast<int>(frames.size()) != needed)
        ThrowValue(std::string(row.name) + " takes " + std::to_string(needed) +
                   (needed == 1 ? " input frame, " : " input frames, ") +
                   std::to_string(frames.size()) + " given");
    std::vector<py::array> arrays;
    for (size_t k = 0; k < frames.size(); ++k) {
        arrays.push_back(PixelArray(frames[k], "frame " + std::to_string(k + 1)));
        const Size first = SizeOf(arrays.front()), size = SizeOf(arrays.back());
        if (size.width != first.width || size.height != first.height)
            ThrowValue("frame " + std::to_string(k + 1) + " has shape " +
                       ShapeText(size.height, size.width) + " but frame 1 has " +
                       ShapeText(first.height, first.width) + "; all frames must be one size");
    }
    return arrays;
}

std::optional<Size> OutSizeOf(const py::object &outSize) {
    if (outSize.is_none()) return std::nullopt;
    constexpr const char *kRule = "out_size must be two positive whole numbers (width, height)";
    if (!py::isinstance<py::sequence>(outSize) || py::isinstance<py::str>(outSize) ||
        py::len(outSize) != 2)
        ThrowValue(kRule);
    const auto pair = py::reinterpret_borrow<py::sequence>(outSize);
    Size size;
    int32_t *dimensions[] = {&size.width, &size.height};
    for (size_t k = 0; k < 2; ++k) {
        const py::object item = pair[k];
        // Whole numbers only (numpy's included), never a float cut short.
        if (!PyIndex_Check(item.ptr())) ThrowValue(kRule);
        const long long value = PyNumber_AsSsize_t(item.ptr(), nullptr);
        if (value == -1 && PyErr_Occurred()) PyErr_Clear();
        if (value < 1 || value > std::numeric_limits<int32_t>::max()) ThrowValue(kRule);
        *dimensions[k] = static_cast<int32_t>(value);
    }
    return size;
}

const Shuffle &ShuffleFrom(const std::string &channelOrder, bool toLibrary) {
    if (channelOrder == "argb") return kSame;
    if (channelOrder == "rgba") return toLibrary ? kRgbaToArgb : kArgbToRgba;
    ThrowValue("channel_order must be \"argb\" or \"rgba\", not \"" + channelOrder + "\"");
}

// The progress monitor of one call. It runs on the caller's thread while the
// GIL is released, so it takes the GIL back only when it has Python work:
// every row when there is a progress callable, and on the main thread every
// few milliseconds to let a Ctrl-C through.
struct Monitoring {
    py::object progress;
    bool watchSignals = false;
    Clock::time_point nextSignalCheck;
    // The exception that stopped the effect (a KeyboardInterrupt, or one the
    // callable raised); it is raised again once the call returns.
    std::optional<py::error_already_set> error;
    int32_t lastRow = -1, totalRows = 0;
};

constexpr auto kSignalCheckInterval = std::chrono::milliseconds(10);

// Returns 0 to stop. Called from the library through a C function pointer:
// nothing may be thrown out of it.
int MonitorRow(MonitorInfo *info, void *userData) {
    auto &m = *static_cast<Monitoring *>(userData);
    m.lastRow = info->currentRow;
    m.totalRows = info->totalRows;
    const bool checkSignals = m.watchSignals && Clock::now() >= m.nextSignalCheck;
    if (!checkSignals && m.progress.is_none()) return 1;
    try {
        py::gil_scoped_acquire gil;
        if (checkSignals) {
            m.nextSignalCheck = Clock::now() + kSignalCheckInterval;
            if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        }
        if (m.progress.is_none()) return 1;
        const py::object answer = m.progress(info->currentRow + 1, info->totalRows);
        const int truth = PyObject_IsTrue(answer.ptr());
        if (truth < 0) throw py::error_already_set();
        return truth;
    } catch (py::error_already_set &error) {
        m.error.emplace(std::move(error));
    } catch (...) {
        // Not a Python error (pybind11 failed to convert something): stop
        // and report it as a plain runtime error below.
        py::gil_scoped_acquire gil;
        PyErr_SetString(PyExc_RuntimeError, "the progress monitor failed");
        m.error.emplace();
    }
    return 0;
}

// The size the effect writes (Crop, Resize and the sized fills differ from
// their input), found without drawing, so that a refusal is reported before
// any memory is taken.
kve::EffectCheck CheckedSize(const kve::EffectRow &row, const std::string &command,
                             std::vector<uint32_t *> &list, Size in, Size declared,
                             const kvehost::DiagnosticScope &diagnostics) {
    const kve::EffectCheck check = kve::CheckEffect(command.c_str(), list.data(), in.width,
                                                    in.height, declared.width, declared.height);
    if (check.status != kve::EffectCheck::kReady)
        ThrowValue(kvehost::RefusalMessage(row, diagnostics.Lines(), kvehost::kSilentRefusal));
    if (int64_t{check.outWidth} * check.outHeight > kvehost::kMaxOutputPixels)
        ThrowValue(std::string(row.name) + " would draw a frame of shape " +
                   ShapeText(check.outHeight, check.outWidth) + ", more than kve handles");
    return check;
}

// The array the library draws into: the caller's `out` when it takes the
// words as they are, else a new one.
py::array DrawingArray(const kve::EffectRow &row, const std::optional<py::array> &target,
                       const kve::EffectCheck &check, bool reorder) {
    if (target) {
        const Size size = SizeOf(*target);
        if (size.width != check.outWidth || size.height != check.outHeight)
            ThrowValue("out has shape " + ShapeText(size.height, size.width) + " but " + row.name +
                       " writes " + ShapeText(check.outHeight, check.outWidth));
        if (!target->writeable()) ThrowValue("out is read-only");
        if (!IsPlainBuffer(*target))
            ThrowValue("out must be C-contiguous and 4-byte aligned (a fresh numpy array is)");
        if (!reorder) return *target;
    }
    return py::array_t<uint8_t>(std::vector<py::ssize_t>{check.outHeight, check.outWidth, 4});
}

// Copies the inputs the library cannot read in place: strided, misaligned,
// in the other byte order, or sharing memory with the output.
void MakeReadable(std::vector<py::array> &inputs, std::vector<uint32_t *> &list,
                  const py::array &output, const Shuffle &toLibrary) {
    for (size_t k = 0; k < inputs.size(); ++k) {
        if (&toLibrary != &kSame || !IsPlainBuffer(inputs[k]) || Overlaps(inputs[k], output)) {
            inputs[k] = Reordered(inputs[k], toLibrary);
            list[k] = static_cast<uint32_t *>(inputs[k].mutable_data());
        }
    }
}

// Runs the effect with the GIL released; the result of KVE_EffectBySize.
int RunReleased(const std::string &command, std::vector<uint32_t *> &list, Size in,
                py::array &output, Size declared, const py::object &progress) {
    Monitoring monitoring;
    monitoring.progress = progress;
    monitoring.watchSignals = PyThread_get_thread_ident() == mainThread;
    monitoring.nextSignalCheck = Clock::now() + kSignalCheckInterval;
    MonitorHook hook{&MonitorRow, &monitoring};
    auto *pixels = static_cast<uint32_t *>(output.mutable_data());
    int status;
    {
        py::gil_scoped_release release;
        status = KVE_EffectBySize(command.c_str(), list.data(), in.width, in.height, pixels,
                                  declared.width, declared.height, &hook);
    }
    if (monitoring.error) {
        monitoring.error->restore();
        throw py::error_already_set();
    }
    if (status == -3) {
        const std::string message =
            kvehost::CommandWord(command) + " stopped by the progress callable after row " +
            std::to_string(monitoring.lastRow + 1) + " of " + std::to_string(monitoring.totalRows);
        PyErr_SetString(stoppedType, message.c_str());
        throw py::error_already_set();
    }
    return status;
}

py::array Effect(const std::string &command, const py::args &frames, const py::object &outSize,
                 const py::object &progress, const py::object &out,
                 const std::string &channelOrder) {
    if (command.find('\0') != std::string::npos) ThrowValue("the command contains a NUL character");
    const std::string word = kvehost::CommandWord(command);
    const kve::EffectRow *found = kve::FindEffect(word);
    if (!found) ThrowValue(kvehost::UnknownMessage(word) + " (kve.effects() lists every effect)");
    const kve::EffectRow &row = *found;
    if (!progress.is_none() && !PyCallable_Check(progress.ptr()))
        throw py::type_error("progress must be a callable (row, total) or None");
    const Shuffle &toLibrary = ShuffleFrom(channelOrder, true);
    const bool reorder = &toLibrary != &kSame;

    std::vector<py::array> inputs = TakeFrames(row, frames);
    std::optional<py::array> target;
    if (!out.is_none()) target = PixelArray(out, "out");
    const Size in = inputs.empty() ? Size{} : SizeOf(inputs.front());
    // Without out_size the output frame given is the size the host declares.
    Size declared{};
    if (auto size = OutSizeOf(outSize))
        declared = *size;
    else if (target)
        declared = SizeOf(*target);
    std::vector<uint32_t *> list;
    for (const py::array &input : inputs)
        list.push_back(static_cast<uint32_t *>(const_cast<void *>(input.data())));
    list.push_back(nullptr);

    kvehost::DiagnosticScope diagnostics;
    const kve::EffectCheck check = CheckedSize(row, command, list, in, declared, diagnostics);
    py::array drawn = DrawingArray(row, target, check, reorder);
    MakeReadable(inputs, list, drawn, toLibrary);
    const int status = RunReleased(command, list, in, drawn, declared, progress);
    if (status == -4) ThrowValue(kvehost::UnknownMessage(word));
    if (status == -2)
        ThrowValue(kvehost::RefusalMessage(row, diagnostics.Lines(), "malformed parameters"));
    if (!diagnostics.Lines().empty())
        ThrowValue(kvehost::RefusalMessage(row, diagnostics.Lines(), ""));
    if (!reorder) return drawn;
    py::array converted = Reordered(drawn, ShuffleFrom(channelOrder, false));
    if (!target) return converted;
    std::memcpy(target->mutable_data(), converted.data(), static_cast<size_t>(converted.nbytes()));
    return *target;
}

py::array Convert(const py::handle &array, const Shuffle &shuffle) {
    return Reordered(PixelArray(array, "the array"), shuffle);
}

py::list Effects() {
    py::list effects;
    for (const kve::EffectRow &row : kve::EffectTable()) {
        py::list parameters;
        for (const kvehost::ParameterWord &parameter : kvehost::Parameters(row))
            parameters.append(
                py::make_tuple(parameter.name, kvehost::DescribeKind(parameter.letter)));
        py::dict effect;
        effect["name"] = row.name;
        effect["inputs"] = kvehost::ImagesNeeded(row);
        effect["parameters"] = parameters;
        effect["usage"] = kvehost::UsageLine(row);
        effect["example"] = row.example && *row.example ? row.example : row.name;
        effects.append(effect);
    }
    return effects;
}

const char *kModuleDoc = R"(Video-frame effects and transitions on numpy arrays.

Frames are uint8 arrays of shape (height, width, 4). The library's own byte
order is alpha, red, green, blue; kve.from_rgba() and kve.to_rgba() convert
from and to the red, green, blue, alpha order of most Python image code, and
kve.effect(..., channel_order="rgba") does it on the fly.

kve.effect() runs any effect by its command text; kve.effects() lists them
and kve.wipe_numbers() the patterns of the Wipe effect.
)";

const char *kEffectDoc =
    R"(effect(command, *frames, out_size=None, progress=None, out=None, channel_order="argb")

Runs the effect named at the head of `command` over the input frames and
returns the frame it drew, a new uint8 array of shape (height, width, 4), or
`out` when given.

command       the effect's name and its parameters, as text:
              "Wipe 101 0.5 0.05 [0 0] 1 1 0 [0 0] 0 [(argb) 255 0 0 0]".
              Coordinates are centred ([0 0] is the frame centre, 1 is half
              the frame width); colours are [(argb) alpha red green blue].
*frames       as many input frames as the effect takes, all one size, each a
              uint8 array of shape (height, width, 4). Strided or misaligned
              arrays are copied first.
out_size      (width, height) of the output frame, for effects that draw
              another size than their input; None for the input size.
progress      a callable (row, total) called after every output row (row runs
              from 1 to total); a falsy answer stops the effect and raises
              kve.Stopped. Ctrl-C stops a long call too (KeyboardInterrupt).
out           an array of the output's shape to draw into instead of a new
              one: C-contiguous and 4-byte aligned. With channel_order="rgba"
              it is written only when the effect completes.
channel_order "argb" (the library's order) or "rgba" for frames and result in
              red, green, blue, alpha order.

Raises ValueError for frames of the wrong shape, dtype or size (naming the
frame), an unknown effect (listing near names), refused parameters (naming
the parameter and what it must be); TypeError for a frame that is not an
array; kve.Stopped when the progress callable stops the effect.

The GIL is released while the effect runs, so threads render at once. The
noise effects reseed the random source from their parameters, so the same
command gives the same frame; Wipe 410 draws a fresh block order from the
calling thread's random source, and 409 repeats the last one 410 drew there.

Example: a wipe between two pictures, as numbered PNG files

    import numpy as np, kve
    first = np.zeros((360, 640, 4), np.uint8); first[..., 1] = 255   # red
    second = np.zeros((360, 640, 4), np.uint8); second[..., 3] = 255  # blue
    for i in range(25):
        frame = kve.effect(f"Wipe 101 {i / 24} 0.1 [0 0] 1 1 0 [0 0] 0 "
                           "[(argb) 255 255 255 255]", first, second)
        rgba = kve.to_rgba(frame)   # e.g. PIL.Image.fromarray(rgba).save(...)

Effects (kve.effects() gives their parameters in words):
)";

std::string EffectDoc() {
    std::string doc = kEffectDoc;
    for (const kve::EffectRow &row : kve::EffectTable())
        doc += "    " + kvehost::UsageLine(row) + "\n";
    return doc;
}

}  // namespace

PYBIND11_MODULE(kve, m) {
    m.doc() = kModuleDoc;
    // Each docstring opens with its own signature, which names *frames.
    py::options options;
    options.disable_function_signatures();
    kvehost::InstallDiagnosticCapture(nullptr);
    mainThread =
        py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();

    stoppedType = PyErr_NewExceptionWithDoc(
        "kve.Stopped", "Raised when the progress callable stopped an effect.", nullptr, nullptr);
    if (!stoppedType) throw py::error_already_set();
    m.attr("Stopped") = py::handle(stoppedType);

    static const std::string effectDoc = EffectDoc();
    // The parameters after *frames are keyword-only.
    m.def("effect", &Effect, effectDoc.c_str(), py::arg("command"),
          py::arg("out_size") = py::none(), py::arg("progress") = py::none(),
          py::arg("out") = py::none(), py::arg("channel_order") = "argb");
    m.def(
        "from_rgba", [](py::handle a) { return Convert(a, kRgbaToArgb); }, py::arg("a"),
        "from_rgba(a)\n\nA new array with the pixels of `a` (uint8, shape (height, width, 4),\n"
        "red, green, blue, alpha) in the library's order: alpha, red, green, blue.");
    m.def(
        "to_rgba", [](py::handle a) { return Convert(a, kArgbToRgba); }, py::arg("a"),
        "to_rgba(a)\n\nA new array with the pixels of `a` (uint8, shape (height, width, 4),\n"
        "alpha, red, green, blue, as kve.effect returns them) in red, green, blue,\n"
        "alpha order, for PIL, imageio, matplotlib.");
    m.def("effects", &Effects,
          "effects()\n\nEvery effect, in the library's table order, as a dict: name, inputs (how\n"
          "many frames it takes), parameters (its text parameters in command order,\n"
          "each a (name, what it must be) pair), usage and an example command.");
    m.def(
        "wipe_numbers",
        [] {
            py::list numbers;
            for (const int32_t number : kve::WipeNumbers())
                numbers.append(number);
            return numbers;
        },
        "wipe_numbers()\n\nEvery pattern number the Wipe effect draws, ascending.");
    m.attr("__version__") = KVE_VERSION;
}

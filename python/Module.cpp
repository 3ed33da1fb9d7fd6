// import varsile: the gate and its pitch tracker on NumPy arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <optional>
#include <string>

#include "CliError.h"
#include "Commands.h"
#include "GateHost.h"
#include "HostError.h"
#include "NoteNames.h"
#include "NoteSegments.h"
#include "Scales.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace varsile::python {

namespace {

// The keywords' values as the command line's options: a key may be a name
// or a number, volumes a mapping from intervals to percent.
std::optional<std::string> KeyText(const std::optional<py::object>& key) {
  if (!key) return std::nullopt;
  return std::string(py::str(*key));
}

std::vector<std::string> VolumeTexts(const std::optional<py::dict>& volumes) {
  std::vector<std::string> texts;
  if (volumes) {
    for (const auto& [interval, volume] : *volumes)
      texts.push_back(fmt::format("{}={}", std::string(py::str(interval)), volume.cast<double>()));
  }
  return texts;
}

// What the command line checks as it reads the options.
cli::GateOptions Checked(cli::GateOptions options) {
  cli::CheckGateOptions(options);
  return options;
}

#define VARSILE_SETTINGS_ARGS                                                                  \
  py::arg("key") = py::none(), py::arg("scale") = py::none(), py::arg("volumes") = py::none(), \
  py::arg("attack") = py::none(), py::arg("release") = py::none(), py::arg("a4") = py::none(), \
  py::arg("accuracy_threshold") = py::none(), py::arg("jitter_threshold") = py::none(),        \
  py::arg("master") = py::none(), py::arg("out_of_scale") = py::none(), py::arg("block") = 512
#define VARSILE_SETTINGS_PARAMS                                                                     \
  std::optional<py::object> key, std::optional<std::string> scale, std::optional<py::dict> volumes, \
      std::optional<double> attack, std::optional<double> release, std::optional<double> a4,        \
      std::optional<double> accuracyThreshold, std::optional<double> jitterThreshold,               \
      std::optional<double> master, std::optional<double> outOfScale, long block
#define VARSILE_SETTINGS                                                                              \
  vp::Checked(cli::GateOptions{vp::KeyText(key), scale, outOfScale, vp::VolumeTexts(volumes), master, \
                               attack, release, a4, accuracyThreshold, jitterThreshold, false})

UInt32 CheckedBlock(long block) {
  if (block < 1 || block > cli::kMaxBlockSize) {
    throw cli::UsageError("block must be from 1 to {} frames", cli::kMaxBlockSize);
  }
  return static_cast<UInt32>(block);
}

// Audio as the gate takes it: a new float32 array shaped like the input,
// holding the input's samples, which the gate then overwrites in place.
// Other dtypes and layouts are converted in this one copy.
struct Audio {
  py::array_t<float> samples;
  UInt32 channels = 1;
  std::size_t frames = 0;
  std::vector<Float32*> pointers;
};

Audio TakeAudio(const py::handle& x, std::optional<UInt32> channels) {
  const py::module_ numpy = py::module_::import("numpy");
  const py::array input = numpy.attr("asarray")(x);
  const std::string shape = py::str(py::tuple(input.attr("shape")));
  Audio audio;
  if (input.ndim() == 1) {
    audio.frames = static_cast<std::size_t>(input.shape(0));
  } else if (input.ndim() == 2) {
    audio.channels = static_cast<UInt32>(input.shape(0));
    audio.frames = static_cast<std::size_t>(input.shape(1));
  } else {
    throw cli::UsageError("audio must be shaped (frames,) or (channels, frames), not {}", shape);
  }
  if (channels && *channels != audio.channels) {
    throw cli::UsageError(
        "this gate has {} channel{}; give it an array shaped {}, not {}", *channels,
        *channels == 1 ? "" : "s",
        *channels == 1 ? "(frames,) or (1, frames)" : fmt::format("({}, frames)", *channels), shape);
  }
  if (audio.channels == 0) throw cli::UsageError("audio has no channels");
  audio.samples = py::array_t<float>(std::vector<py::ssize_t>(input.shape(), input.shape() + input.ndim()));
  numpy.attr("copyto")(audio.samples, input, "casting"_a = "same_kind");
  float* data = audio.samples.mutable_data();
  for (UInt32 c = 0; c < audio.channels; ++c) audio.pointers.push_back(data + c * audio.frames);
  return audio;
}

// One render at a time per gate; the others wait for nothing but fail.
class Busy {
 public:
  explicit Busy(GateHost& gate) : mGate(gate) {
    if (!gate.TryAcquire()) throw std::runtime_error("this Gate is in use by another thread");
  }
  ~Busy() { mGate.Release(); }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;

 private:
  GateHost& mGate;
};

class Gate {
 public:
  Gate(double sampleRate, UInt32 channels, UInt32 block, const cli::GateOptions& options,
       const std::string& preset, bool lookahead)
      : mHost(std::make_unique<GateHost>(sampleRate, channels, block, options, preset, lookahead)),
        mLastDims(channels == 1 ? 1 : 2) {}

  GateHost& Host() { return *mHost; }

  py::array Process(const py::handle& x) {
    Audio audio = TakeAudio(x, mHost->Channels());
    mLastDims = audio.samples.ndim();
    Busy busy(*mHost);
    {
      py::gil_scoped_release unlocked;
      mHost->Stream(audio.pointers.data(), audio.pointers.data(), audio.frames);
    }
    return audio.samples;
  }

  py::array Flush() {
    const UInt32 channels = mHost->Channels();
    const std::size_t frames = mHost->Latency();
    std::vector<py::ssize_t> shape{static_cast<py::ssize_t>(frames)};
    if (mLastDims == 2) shape.insert(shape.begin(), channels);
    py::array_t<float> rest(shape);
    std::vector<Float32*> pointers;
    for (UInt32 c = 0; c < channels; ++c) pointers.push_back(rest.mutable_data() + c * frames);
    Busy busy(*mHost);
    mHost->Flush(pointers.data());
    return rest;
  }

  void Reset() {
    Busy busy(*mHost);
    mHost->Reset();
  }

  const host::ParameterDescription& Require(const char* name) const {
    return mHost->Catalogue().Require(name);
  }
  double Value(const char* name) const { return mHost->Parameter(Require(name).id); }

  // Sets what `choose` puts in, as the same keywords would.
  template <typename Choose>
  void Apply(Choose&& choose) {
    cli::GateOptions options;
    choose(options);
    mHost->Apply(Checked(options));
  }

  py::str Key() const {
    const host::ParameterDescription& key = Require("key");
    const auto index = static_cast<std::size_t>(std::lround(mHost->Parameter(key.id)));
    return index < key.valueStrings.size() ? py::str(key.valueStrings[index])
                                           : py::str(std::to_string(index));
  }

  py::dict Volumes() const {
    const cli::IntervalTable intervals = cli::IntervalTable::Find(mHost->Catalogue());
    py::dict volumes;
    for (int n = 0; n < 12; ++n)
      volumes[py::str(intervals.Name(n))] = mHost->Parameter(intervals.Parameter(n).id);
    return volumes;
  }

  // The first scale the volumes follow: 100 % inside, one volume outside.
  py::object Scale() const {
    const cli::IntervalTable intervals = cli::IntervalTable::Find(mHost->Catalogue());
    for (const music::Scale& scale : music::Scales()) {
      std::optional<Float32> outside;
      bool follows = true;
      for (int n = 0; n < 12 && follows; ++n) {
        const Float32 volume = mHost->Parameter(intervals.Parameter(n).id);
        if (scale.semitones.test(static_cast<std::size_t>(n))) {
          follows = volume == 100.0f;
        } else {
          follows = volume < 100.0f && volume == outside.value_or(volume);
          outside = volume;
        }
      }
      if (follows) return py::str(std::string(scale.name));
    }
    return py::none();
  }

  py::dict Meters() const {
    const cli::MeterReading meters = mHost->ReadMeters();
    const auto note = static_cast<std::size_t>(meters.currentNote);
    const std::vector<std::string>& names = Require("current note").valueStrings;
    const bool heard = note < 12;
    return py::dict("note"_a = heard ? py::object(py::int_(note)) : py::none(),
                    "name"_a = heard && note < names.size() ? py::object(py::str(names[note])) : py::none(),
                    "accuracy"_a = meters.accuracy, "volume"_a = meters.currentVolume);
  }

 private:
  std::unique_ptr<GateHost> mHost;
  py::ssize_t mLastDims;
};

// gate.parameters: every parameter by its name, as `varsile params` lists
// them (interval names without the note after " / ").
struct Parameters {
  Gate* gate;

  py::list Names() const {
    py::list names;
    for (const host::ParameterDescription& p : gate->Host().Catalogue().All())
      names.append(std::string(host::NameStem(p.name)));
    return names;
  }
  double Get(const std::string& name) const {
    const host::ParameterDescription* parameter = gate->Host().FindParameter(name);
    if (parameter == nullptr) throw py::key_error(name);
    return gate->Host().Parameter(parameter->id);
  }
};

py::list AnalyzeChannel(const Audio& audio, UInt32 channel, double sampleRate, UInt32 block,
                        const cli::GateOptions& options, double minNote) {
  GateHost gate(sampleRate, 1, block, options);
  cli::NoteSegments segments;
  // The input is kept, so that each block's levels tell silence, as the program does.
  std::vector<Float32> rendered(audio.frames);
  const Float32* input = audio.pointers[channel];
  Float32* output = rendered.data();
  {
    py::gil_scoped_release unlocked;
    std::size_t from = 0;
    gate.RenderWhole(&input, &output, audio.frames, [&](std::size_t done) {
      cli::MeterReading reading = gate.ReadMeters(static_cast<double>(done) / sampleRate);
      cli::AddLevels(reading, input + from, output + from, static_cast<UInt32>(done - from));
      segments.Add(reading);
      from = done;
    });
  }
  segments.MergeShorterThan(minNote);
  const std::vector<std::string>& names = gate.Catalogue().Require("current note").valueStrings;
  py::list rows;
  for (const cli::NoteSegment& segment : segments.Segments()) {
    const bool heard = segment.note >= 0 && segment.note < 12;
    const auto index = static_cast<std::size_t>(segment.note);
    rows.append(py::dict("start"_a = segment.start, "end"_a = segment.end, "channel"_a = channel,
                         "pitch_class"_a = heard ? py::object(py::int_(segment.note)) : py::none(),
                         "name"_a = index < names.size() ? names[index] : std::to_string(segment.note),
                         "accuracy"_a = segment.meanAccuracy));
  }
  return rows;
}

}  // namespace

}  // namespace varsile::python

using varsile::python::Gate;
using varsile::python::Parameters;

PYBIND11_MODULE(varsile, m) {
  namespace cli = varsile::cli;
  namespace music = varsile::music;
  namespace vp = varsile::python;
  m.doc() = "Varsile, the pitch-aware gate, on NumPy arrays.";

  // Mistakes in the values asked for read as the command line's messages.
  static py::exception<cli::CliError> error(m, "Error", PyExc_RuntimeError);
  py::register_exception_translator([](std::exception_ptr failure) {
    try {
      if (failure) std::rethrow_exception(failure);
    } catch (const cli::UsageError& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const cli::CliError& e) {
      PyErr_SetString(error.ptr(), e.what());
    } catch (const varsile::host::HostError& e) {
      PyErr_SetString(error.ptr(), e.what());
    }
  });

  py::list scales;
  for (const music::Scale& scale : music::Scales()) scales.append(std::string(scale.name));
  m.attr("SCALES") = py::tuple(scales);

  py::class_<Parameters>(m, "Parameters", "The gate's parameters by name, read and set live.")
      .def("keys", &Parameters::Names)
      .def("__iter__", [](const Parameters& p) { return py::iter(p.Names()); })
      .def("__len__", [](const Parameters& p) { return p.gate->Host().Catalogue().All().size(); })
      .def("__contains__",
           [](const Parameters& p, const std::string& name) { return p.Names().contains(py::str(name)); })
      .def("__getitem__", &Parameters::Get)
      .def("__setitem__", [](Parameters& p, const std::string& name,
                             double value) { p.gate->Host().SetParameter(name, value); })
      .def("items",
           [](const Parameters& p) {
             py::list items;
             for (const auto name : p.Names())
               items.append(py::make_tuple(name, p.Get(name.cast<std::string>())));
             return items;
           })
      .def("__repr__", [](const Parameters& p) {
        py::dict values;
        for (const auto name : p.Names()) values[name] = p.Get(name.cast<std::string>());
        return "Parameters(" + std::string(py::repr(values)) + ")";
      });

  auto make = [](double sampleRate, UInt32 channels, const std::string& preset, bool lookahead,
                 VARSILE_SETTINGS_PARAMS) {
    return std::make_unique<Gate>(sampleRate, channels, vp::CheckedBlock(block), VARSILE_SETTINGS, preset,
                                  lookahead);
  };

  py::class_<Gate> gate(m, "Gate", R"(A streaming gate.

process(x) takes float audio shaped (frames,) or (channels, frames) and returns
the gated audio, shaped alike, `latency` frames late: the gate renders fixed
blocks counted from the start of the stream, so the result does not depend on
how the stream is cut. flush() returns the frames held back and starts anew.)");
  gate.def(py::init([make](double sampleRate, UInt32 channels, bool lookahead, VARSILE_SETTINGS_PARAMS) {
             return make(sampleRate, channels, {}, lookahead, key, scale, volumes, attack, release, a4,
                         accuracyThreshold, jitterThreshold, master, outOfScale, block);
           }),
           "sample_rate"_a, "channels"_a = 1, py::kw_only(), "lookahead"_a = false, VARSILE_SETTINGS_ARGS)
      .def_static(
          "from_preset",
          [make](const std::string& path, double sampleRate, UInt32 channels, VARSILE_SETTINGS_PARAMS) {
            return make(sampleRate, channels, path, false, key, scale, volumes, attack, release, a4,
                        accuracyThreshold, jitterThreshold, master, outOfScale, block);
          },
          "path"_a, "sample_rate"_a, "channels"_a = 1, py::kw_only(), VARSILE_SETTINGS_ARGS,
          "A gate with the settings of an .aupreset file; keywords apply on top.")
      .def("process", &Gate::Process, "x"_a)
      .def("flush", &Gate::Flush)
      .def("reset", &Gate::Reset)
      .def(
          "save_preset", [](Gate& g, const std::string& path) { g.Host().SavePreset(path); }, "path"_a)
      .def_property_readonly("sample_rate", [](Gate& g) { return g.Host().SampleRate(); })
      .def_property_readonly("channels", [](Gate& g) { return g.Host().Channels(); })
      .def_property_readonly("block", [](Gate& g) { return g.Host().Block(); })
      .def_property_readonly("latency", [](Gate& g) { return g.Host().Latency(); })
      .def_property_readonly("meters", &Gate::Meters)
      .def_property_readonly(
          "parameters", [](Gate& g) { return Parameters{&g}; }, py::keep_alive<0, 1>())
      .def_property("key", &Gate::Key,
                    [](Gate& g, const py::object& key) {
                      g.Apply([&](cli::GateOptions& o) { o.key = vp::KeyText(key); });
                    })
      .def_property(
          "scale", &Gate::Scale,
          [](Gate& g, const std::string& scale) { g.Apply([&](cli::GateOptions& o) { o.scale = scale; }); })
      .def_property("volumes", &Gate::Volumes, [](Gate& g, const py::dict& volumes) {
        g.Apply([&](cli::GateOptions& o) { o.volumes = vp::VolumeTexts(volumes); });
      });
  const auto number = [&gate](const char* attribute, const char* parameter,
                              std::optional<double> cli::GateOptions::*field) {
    gate.def_property(
        attribute, [parameter](const Gate& g) { return g.Value(parameter); },
        [field](Gate& g, double value) { g.Apply([&](cli::GateOptions& o) { o.*field = value; }); });
  };
  number("master", "master volume", &cli::GateOptions::master);
  number("attack", "attack time", &cli::GateOptions::attack);
  number("release", "release time", &cli::GateOptions::release);
  number("a4", "A4 frequency", &cli::GateOptions::a4);
  number("accuracy_threshold", "accuracy threshold", &cli::GateOptions::accuracyThreshold);
  number("jitter_threshold", "jitter threshold", &cli::GateOptions::jitterThreshold);

  m.def(
      "process",
      [](const py::object& x, double sampleRate, bool lookahead, VARSILE_SETTINGS_PARAMS) {
        vp::Audio audio = vp::TakeAudio(x, std::nullopt);
        vp::GateHost host(sampleRate, audio.channels, vp::CheckedBlock(block), VARSILE_SETTINGS, {},
                          lookahead);
        {
          py::gil_scoped_release unlocked;
          host.RenderWhole(audio.pointers.data(), audio.pointers.data(), audio.frames, [](std::size_t) {});
        }
        return audio.samples;
      },
      "x"_a, "sample_rate"_a, py::kw_only(), "lookahead"_a = false, VARSILE_SETTINGS_ARGS,
      "Gates a whole array at once, as `varsile process` gates a file.");

  m.def(
      "analyze",
      [](const py::object& x, double sampleRate, double minNote, std::optional<double> a4,
         std::optional<double> accuracyThreshold, std::optional<double> jitterThreshold, long block) {
        const vp::Audio audio = vp::TakeAudio(x, std::nullopt);
        cli::GateOptions options;
        options.scale = "chromatic";  // every interval at 100 %: nothing is attenuated
        options.master = 100.0;
        options.a4 = a4;
        options.accuracyThreshold = accuracyThreshold;
        options.jitterThreshold = jitterThreshold;
        py::list segments;
        for (UInt32 c = 0; c < audio.channels; ++c) {
          segments.attr("extend")(
              vp::AnalyzeChannel(audio, c, sampleRate, vp::CheckedBlock(block), options, minNote));
        }
        return segments;
      },
      "x"_a, "sample_rate"_a, "min_note"_a = 0.05, py::kw_only(), "a4"_a = py::none(),
      "accuracy_threshold"_a = py::none(), "jitter_threshold"_a = py::none(), "block"_a = 512,
      R"(The notes the tracker hears, per channel, as `varsile analyze` reports them: a list of
dicts with start and end (seconds), channel, pitch_class (None for no note), name and
accuracy (mean percent). Segments shorter than min_note seconds join their neighbours.)");
}

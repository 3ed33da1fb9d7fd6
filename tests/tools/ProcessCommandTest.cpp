// varsile process against the component driven directly through the host
// calls with the same settings and block size.
#include <AudioToolbox/AudioComponentRegistry.h>
#include <AudioUnit/AudioUnit.h>
#include <cairo.h>
#include <gtest/gtest.h>

#include <bitset>
#include <cstring>
#include <map>

#include "AudioFile.h"
#include "CliError.h"
#include "GateSession.h"
#include "NotePlot.h"
#include "Presets.h"
#include "ToolsTestSupport.h"

namespace {

using toolstest::Audio;

struct Meters {
  float accuracy;
  float note;
  float volume;
};

struct Reference {
  std::vector<float> samples;  // interleaved
  std::vector<Meters> meters;  // after every block
};

struct Feed {
  const Audio* audio;
  std::size_t position;
};

OSStatus FeedInput(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32 frames,
                   AudioBufferList* data) {
  auto* feed = static_cast<Feed*>(refCon);
  const auto channels = static_cast<std::size_t>(feed->audio->channels);
  for (UInt32 c = 0; c < data->mNumberBuffers; ++c) {
    auto* target = static_cast<float*>(data->mBuffers[c].mData);
    for (UInt32 i = 0; i < frames; ++i) target[i] = feed->audio->samples[(feed->position + i) * channels + c];
  }
  return noErr;
}

// The gate run with plain host calls: parameters by their ids, the stream
// formats, the block size, an input callback, one render per block, and
// the meters read after each: accuracy, current note, current volume.
Reference RenderDirectly(const Audio& audio, const std::vector<std::pair<UInt32, float>>& parameters,
                         UInt32 block) {
  AudioComponent component = nullptr;
  EXPECT_EQ(AudioComponentLoadManifest(VARSILE_COMPONENT_MANIFEST, &component), noErr);
  AudioUnit unit = nullptr;
  EXPECT_EQ(AudioComponentInstanceNew(component, &unit), noErr);
  for (const auto& [id, value] : parameters)
    EXPECT_EQ(AudioUnitSetParameter(unit, id, 0, 0, value, 0), noErr);

  const auto channels = static_cast<UInt32>(audio.channels);
  const AudioStreamBasicDescription format = varsile::CanonicalFormat(audio.sampleRate, channels);
  for (const AudioUnitScope scope : {kAudioUnitScope_Input, kAudioUnitScope_Output}) {
    EXPECT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, scope, 0, &format, sizeof(format)),
              noErr);
  }
  EXPECT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_MaximumFramesPerSlice, 0, 0, &block, 4), noErr);
  Feed feed{&audio, 0};
  const AURenderCallbackStruct callback{FeedInput, &feed};
  EXPECT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0,
                                 &callback, sizeof(callback)),
            noErr);
  EXPECT_EQ(AudioUnitInitialize(unit), noErr);

  Reference reference;
  reference.samples.resize(audio.samples.size());
  std::vector<std::vector<float>> out(channels, std::vector<float>(block));
  std::vector<std::byte> listMemory(8 + 16 * channels);
  auto* list = reinterpret_cast<AudioBufferList*>(listMemory.data());
  for (std::size_t done = 0; done < audio.Frames();) {
    const auto frames = static_cast<UInt32>(std::min<std::size_t>(block, audio.Frames() - done));
    // Each call starts on, and never runs past, the frames where the tracker
    // completes an analysis (every 256 from the reset, the first at 255).
    for (UInt32 at = 0; at < frames;) {
      const auto toGrid = static_cast<UInt32>((255 - (done + at) % 256) % 256);
      const UInt32 span = std::min(frames - at, toGrid == 0 ? 256u : toGrid);
      list->mNumberBuffers = channels;
      for (UInt32 c = 0; c < channels; ++c) list->mBuffers[c] = AudioBuffer{1, span * 4, out[c].data() + at};
      AudioTimeStamp time{};
      time.mSampleTime = static_cast<double>(done + at);
      time.mFlags = kAudioTimeStampSampleTimeValid;
      feed.position = done + at;
      EXPECT_EQ(AudioUnitRender(unit, nullptr, &time, 0, span, list), noErr);
      at += span;
    }
    for (UInt32 c = 0; c < channels; ++c) {
      for (UInt32 i = 0; i < frames; ++i) reference.samples[(done + i) * channels + c] = out[c][i];
    }
    Meters meters{};
    AudioUnitGetParameter(unit, 21, 0, 0, &meters.accuracy);
    AudioUnitGetParameter(unit, 20, 0, 0, &meters.note);
    AudioUnitGetParameter(unit, 19, 0, 0, &meters.volume);
    reference.meters.push_back(meters);
    done += frames;
  }
  AudioUnitUninitialize(unit);
  AudioComponentInstanceDispose(unit);
  return reference;
}

std::vector<std::vector<std::string>> ReadCsv(const std::string& csv) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream text(csv);
  for (std::string line; std::getline(text, line);) {
    std::vector<std::string> fields;
    std::istringstream row(line);
    for (std::string field; std::getline(row, field, ',');) fields.push_back(field);
    rows.push_back(fields);
  }
  return rows;
}

class ProcessCommand : public toolstest::Scratch {
 protected:
  // A melody that leaves D dorian now and then, on three channels at 48 kHz.
  static Audio Melody() {
    Audio audio{48000, 3, {}};
    for (const int note : {62, 63, 64, 66, 67, 68, 69, 71}) {
      audio = toolstest::Concatenate(audio, toolstest::Tone(note, 0.15, 3, 48000));
    }
    // Each channel a little different, so that a mixed-up channel shows.
    for (std::size_t i = 0; i < audio.samples.size(); ++i)
      audio.samples[i] *= 1.0f - 0.2f * static_cast<float>(i % 3);
    return audio;
  }
};

TEST_F(ProcessCommand, MatchesTheComponentDrivenDirectlyBitForBit) {
  const Audio input = Melody();
  toolstest::WriteAudio(Path("in.wav"), input);
  const std::vector<std::string> arguments{
      "process",   Path("in.wav"), "-o",       Path("out.wav"),  "--key",
      "D",         "--scale",      "dorian",   "--out-of-scale", "10",
      "--release", "0.05",         "--attack", "0.02",           "--volume",
      "fifth=70",  "--block",      "300",      "--meters",       Path("meters.csv")};
  ASSERT_EQ(Run(arguments), 0) << Err();
  EXPECT_TRUE(Out().empty());
  EXPECT_TRUE(Err().empty());  // no progress bar when stderr is no terminal

  // D dorian: semitones 0 2 3 5 7 9 10 in, the rest at 10 %, the fifth at 70 %.
  std::vector<std::pair<UInt32, float>> parameters{{0, 2.0f}};
  const std::bitset<12> dorian("011010101101");
  for (UInt32 n = 0; n < 12; ++n) parameters.emplace_back(2 + n, dorian.test(n) ? 100.0f : 10.0f);
  parameters.emplace_back(2 + 7, 70.0f);
  parameters.emplace_back(14, 0.02f);
  parameters.emplace_back(15, 0.05f);
  const Reference reference = RenderDirectly(input, parameters, 300);

  const Audio output = toolstest::ReadAudio(Path("out.wav"));
  EXPECT_EQ(output.sampleRate, 48000);
  EXPECT_EQ(output.channels, 3);
  ASSERT_EQ(output.samples.size(), reference.samples.size());
  EXPECT_EQ(std::memcmp(output.samples.data(), reference.samples.data(), output.samples.size() * 4), 0);
  EXPECT_NE(output.samples, input.samples);  // the gate did close

  const auto rows = ReadCsv(toolstest::ReadText(Path("meters.csv")));
  ASSERT_EQ(rows.size(), reference.meters.size() + 1);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"time_s", "current_note", "accuracy", "current_volume", "note",
                                               "channel"}));
  for (std::size_t i = 0; i < reference.meters.size(); ++i) {
    const auto& row = rows[i + 1];
    ASSERT_EQ(row.size(), 6u);
    EXPECT_EQ(row[5], "1");
    const double end = std::min<double>((i + 1) * 300.0, static_cast<double>(input.Frames())) / 48000.0;
    EXPECT_NEAR(std::stod(row[0]), end, 1e-6) << i;
    EXPECT_EQ(std::stoi(row[1]), static_cast<int>(reference.meters[i].note)) << i;
    EXPECT_EQ(std::stof(row[2]), reference.meters[i].accuracy) << i;
    EXPECT_EQ(std::stof(row[3]), reference.meters[i].volume) << i;
  }
  EXPECT_EQ(Files(), (std::vector<std::string>{"in.wav", "meters.csv", "out.wav"}));
}

// The channels render on several threads (process above); a write that fails
// part way must end them all and leave no output behind.
TEST_F(ProcessCommand, AFailingWriteEndsTheRunWithNothingWritten) {
  using varsile::cli::GateSession;
  toolstest::WriteAudio(Path("in.wav"), toolstest::Concatenate(Melody(), Melody()));
  varsile::cli::AudioFileReader input(Path("in.wav"));
  std::vector<std::unique_ptr<GateSession>> sessions;
  std::vector<GateSession*> channels;
  for (int c = 0; c < 3; ++c) channels.push_back(sessions.emplace_back(new GateSession(mSearch)).get());
  {
    varsile::cli::AudioFileWriter output(Path("out.wav"), 48000, 3, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    GateSession::RunOptions run;
    int writes = 0;
    run.write = [&](const Float32* const* samples, UInt32 frames) {
      if (++writes == 3) throw varsile::cli::CliError("disk full");
      output.Write(samples, frames);
    };
    EXPECT_THROW(varsile::cli::RunChannelsInParallel(input, channels, 2, run), varsile::cli::CliError);
    EXPECT_EQ(writes, 3);
  }
  EXPECT_EQ(Files(), std::vector<std::string>{"in.wav"});
}

TEST_F(ProcessCommand, KeepsTheSampleFormatAndPassesUntouchedSamplesExactly) {
  // 16-bit stereo, codes all over the range and both extremes: bypassed
  // and fully open gates must give the very same codes back.
  std::vector<short> inputCodes;
  for (int i = 0; i < 20000; ++i) inputCodes.push_back(static_cast<short>((i * 7919) % 65536 - 32768));
  inputCodes.push_back(32767);
  inputCodes.push_back(-32768);
  {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(Path("in.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    sf_writef_short(file, inputCodes.data(), static_cast<sf_count_t>(inputCodes.size() / 2));
    sf_close(file);
  }
  ASSERT_EQ(Run({"process", Path("in.wav"), "-o", Path("bypass.wav"), "--bypass", "--scale", "blues"}), 0)
      << Err();
  ASSERT_EQ(Run({"process", Path("in.wav"), "-o", Path("open.flac"), "--scale", "chromatic"}), 0) << Err();
  // The lookahead's delay is undone: same length, sample for sample.
  ASSERT_EQ(Run({"process", Path("in.wav"), "-o", Path("ahead.wav"), "--scale", "chromatic", "--lookahead"}),
            0)
      << Err();
  for (const char* name : {"bypass.wav", "open.flac", "ahead.wav"}) {
    SF_INFO info{};
    SNDFILE* file = sf_open(Path(name).c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_16) << name;
    std::vector<short> got(static_cast<std::size_t>(info.frames * 2));
    sf_readf_short(file, got.data(), info.frames);
    sf_close(file);
    EXPECT_EQ(got, inputCodes) << name;
  }
  ASSERT_EQ(Run({"process", Path("in.wav"), "-o", Path("float.aiff"), "--format", "float"}), 0) << Err();
  SF_INFO info{};
  SNDFILE* file = sf_open(Path("float.aiff").c_str(), SFM_READ, &info);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(info.format, SF_FORMAT_AIFF | SF_FORMAT_FLOAT);
  sf_close(file);
}

TEST_F(ProcessCommand, PresetsLoadSaveAndTheOptionsApplyOnTop) {
  toolstest::WriteAudio(Path("in.wav"), toolstest::Tone(62, 0.1, 1));
  ASSERT_EQ(Run({"process", Path("in.wav"), "-o", Path("a.wav"), "--key", "E", "--scale", "phrygian",
                 "--attack", "0.3", "--save-preset", Path("first.aupreset")}),
            0)
      << Err();
  // The lookahead variant takes the plain gate's presets as well as its own.
  ASSERT_EQ(Run({"process", Path("in.wav"), "-o", Path("b.wav"), "--preset", Path("first.aupreset"),
                 "--volume", "minor second=40", "--save-preset", Path("second.aupreset"), "--lookahead"}),
            0)
      << Err();
  // The second preset: the first one's key, scale and attack, and the new volume.
  auto unit = varsile::host::AudioUnitHandle::Open(
      varsile::host::LocateComponent(varsile::cli::LookaheadSearch(mSearch)));
  varsile::cli::LoadPreset(unit, Path("second.aupreset"));
  EXPECT_EQ(unit.GetParameter(0), 4.0f);
  EXPECT_EQ(unit.GetParameter(14), 0.3f);
  EXPECT_EQ(unit.GetParameter(2 + 1), 40.0f);
  EXPECT_EQ(unit.GetParameter(2 + 2), 0.0f);
  EXPECT_EQ(unit.GetParameter(2 + 3), 100.0f);
  ASSERT_EQ(Run({"params", "--preset", Path("first.aupreset")}), 0) << Err();
  EXPECT_NE(Out().find("key: E\nmaster volume: 100%\n"), std::string::npos) << Out();
  EXPECT_NE(Out().find("minor second / F: 100%\n"), std::string::npos) << Out();
  EXPECT_NE(Out().find("attack time: 0.3 s\n"), std::string::npos) << Out();
  const std::string text = toolstest::ReadText(Path("second.aupreset"));
  EXPECT_EQ(text.rfind("<?xml", 0), 0u);
  EXPECT_NE(text.find("<string>second</string>"), std::string::npos);
}

TEST_F(ProcessCommand, LookaheadGatesAWrongNoteFromItsOnsetAndNeitherDependsOnTheBlockSize) {
  // C then C# in C major: the plain gate lets C#'s first tens of
  // milliseconds through while its tracker makes up its mind.
  toolstest::WriteAudio(Path("in.wav"),
                        toolstest::Concatenate(toolstest::Tone(60, 0.5), toolstest::Tone(61, 0.5)));
  const std::vector<std::string> gate{"--scale", "major", "--attack", "0.01", "--release", "0.01"};
  const auto onsetEnergy = [&](const std::string& name, std::vector<std::string> extra) {
    std::vector<std::string> arguments{"process", Path("in.wav"), "-o", Path(name)};
    arguments.insert(arguments.end(), gate.begin(), gate.end());
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    EXPECT_EQ(Run(arguments), 0) << Err();
    const Audio out = toolstest::ReadAudio(Path(name));
    const auto start = static_cast<std::size_t>(0.5 * out.sampleRate);
    double energy = 0.0;
    for (std::size_t i = start; i < start + static_cast<std::size_t>(0.1 * out.sampleRate); ++i)
      energy += out.samples[i] * out.samples[i];
    return energy;
  };
  EXPECT_GT(onsetEnergy("plain.wav", {}), 10.0);
  EXPECT_LT(onsetEnergy("ahead.wav", {"--lookahead"}), 1e-3);
  // Both split their renders where the gate decides: any block gives the same.
  for (const char* block : {"1", "7", "4096"}) {
    onsetEnergy("ahead-b.wav", {"--lookahead", "--block", block});
    onsetEnergy("plain-b.wav", {"--block", block});
    for (const std::string name : {"ahead", "plain"}) {
      EXPECT_EQ(toolstest::ReadAudio(Path(name + "-b.wav")).samples,
                toolstest::ReadAudio(Path(name + ".wav")).samples)
          << name << ", block " << block;
    }
  }
}

TEST_F(ProcessCommand, AnalyzeFindsTheNotesOfEveryChannel) {
  // Channel 1: A for 1 s, then E; channel 2: silence, then E.
  const Audio first = toolstest::Concatenate(toolstest::Tone(69, 1.0), toolstest::Tone(76, 0.5));
  const Audio second = toolstest::Tone(76, 1.5);
  Audio stereo{44100, 2, {}};
  for (std::size_t i = 0; i < first.samples.size(); ++i) {
    stereo.samples.push_back(first.samples[i]);
    stereo.samples.push_back(i < 44100 ? 0.0f : second.samples[i]);
  }
  toolstest::WriteAudio(Path("tone.wav"), stereo);
  ASSERT_EQ(Run({"analyze", Path("tone.wav"), "--format", "csv", "--meters", Path("m.csv")}), 0) << Err();
  const auto rows = ReadCsv(Out());
  ASSERT_GE(rows.size(), 5u) << Out();
  std::map<std::string, std::vector<std::vector<std::string>>> channels;
  for (std::size_t i = 1; i < rows.size(); ++i) channels[rows[i][2]].push_back(rows[i]);
  ASSERT_EQ(channels.size(), 2u) << Out();
  for (const auto& [channel, segments] : channels) {
    // A then E, or nothing then E; no blip under 50 ms; the segments tile the file.
    EXPECT_EQ(segments.front()[3], channel == "1" ? "A" : "-") << Out();
    EXPECT_EQ(segments.back()[3], "E") << Out();
    EXPECT_NEAR(std::stod(segments.front()[1]), 1.0, 0.1) << Out();
    EXPECT_NEAR(std::stod(segments.back()[1]), 1.5, 1e-3);
    for (std::size_t i = 0; i < segments.size(); ++i) {
      EXPECT_GE(std::stod(segments[i][1]) - std::stod(segments[i][0]), 0.05) << Out();
      if (i > 0) {
        EXPECT_EQ(segments[i][0], segments[i - 1][1]);
      }
    }
  }
  // The audio went through unchanged: every block's volume stayed at 100.
  const auto meters = ReadCsv(toolstest::ReadText(Path("m.csv")));
  ASSERT_EQ(meters.size(), 1 + 2 * ((66150 + 511) / 512));
  for (std::size_t i = 1; i < meters.size(); ++i) EXPECT_EQ(meters[i][3], "100") << i;
}

TEST_F(ProcessCommand, PlotsPutTheNotesInTheirLanes) {
  toolstest::WriteAudio(Path("in.wav"),
                        toolstest::Concatenate(toolstest::Tone(69, 1.0), toolstest::Tone(76, 0.5)));
  ASSERT_EQ(
      Run({"process", Path("in.wav"), "-o", Path("out.wav"), "--scale", "major", "--plot", Path("p.png")}), 0)
      << Err();
  cairo_surface_t* png = cairo_image_surface_create_from_png(Path("p.png").c_str());
  ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
  using varsile::cli::PlotLayout;
  EXPECT_EQ(cairo_image_surface_get_width(png), PlotLayout::kWidth);
  EXPECT_EQ(cairo_image_surface_get_height(png), PlotLayout::kHeight);
  const PlotLayout layout{1.5};
  const auto bar = [&](double time, int pitchClass) {
    const auto x = static_cast<int>(layout.X(time));
    const auto y = static_cast<int>(PlotLayout::LaneTop(pitchClass) + PlotLayout::kLaneHeight / 2);
    const auto* row = cairo_image_surface_get_data(png) + y * cairo_image_surface_get_stride(png);
    const std::uint32_t pixel = reinterpret_cast<const std::uint32_t*>(row)[x] & 0xffffff;
    return (pixel & 0xff) > 0xa0 && ((pixel >> 16) & 0xff) < 0x60;  // the first channel's blue
  };
  EXPECT_TRUE(bar(0.5, 9));
  EXPECT_FALSE(bar(0.5, 4));
  EXPECT_TRUE(bar(1.3, 4));
  EXPECT_FALSE(bar(1.3, 9));
  cairo_surface_destroy(png);

  ASSERT_EQ(Run({"analyze", Path("in.wav"), "--plot", Path("a.svg")}), 0) << Err();
  const std::string svg = toolstest::ReadText(Path("a.svg"));
  EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
  EXPECT_NE(svg.find("width=\"1200pt\" height=\"640pt\""), std::string::npos) << svg.substr(0, 300);
}

// The parameter table, as the component reports it to every host: names,
// groups, units, ranges, defaults, access and value strings. The LV2 ports
// are built from the same report.
TEST_F(ProcessCommand, ParamsListsWhatTheComponentReports) {
  ASSERT_EQ(Run({"params"}), 0) << Err();
  EXPECT_EQ(Out(), toolstest::ReadText(VARSILE_FIXTURES_DIR "/tools/varsile-params.txt"));
}

TEST_F(ProcessCommand, EveryCommandHasHelp) {
  for (const char* command : {"process", "analyze", "params", "demo"}) {
    ASSERT_EQ(Run({command, "--help"}), 0) << command;
    EXPECT_EQ(Out().rfind(std::string("usage: varsile ") + command, 0), 0u) << Out();
    EXPECT_TRUE(Err().empty());
  }
  ASSERT_EQ(Run({"--help"}), 0);
  EXPECT_EQ(Out().rfind("usage: varsile <command>", 0), 0u);
  EXPECT_EQ(Run({}), 2);
  EXPECT_EQ(Err().rfind("usage: varsile <command>", 0), 0u);
}

TEST_F(ProcessCommand, TheDemoPassesInScaleNotesAndAttenuatesTheOthers) {
  ASSERT_EQ(Run({"demo", "--out-dir", mFolder.string()}), 0) << Err();
  EXPECT_EQ(Files(), (std::vector<std::string>{"varsile-demo-input.wav", "varsile-demo-output.wav"}));
  std::istringstream text(Out());
  int rows = 0;
  for (std::string line; std::getline(text, line);) {
    std::istringstream fields(line);
    std::string note, inScale;
    double before = 0, after = 0, change = 0;
    if (!(fields >> note >> inScale >> before >> after >> change) || (inScale != "yes" && inScale != "no"))
      continue;
    ++rows;
    if (inScale == "yes") {
      EXPECT_NEAR(change, 0.0, 0.5) << line;
    } else {
      EXPECT_LT(change, -40.0) << line;
    }
  }
  EXPECT_EQ(rows, 12) << Out();
}

}  // namespace

// RunChannelsInParallel: a reader (the calling thread), workers that render
// channels, and a writer, passing a ring of chunks. A chunk holds several
// render blocks, so that the threads meet a few times per second of audio
// rather than at every block; the blocks themselves are those Run renders.
#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "GateSession.h"

namespace varsile::cli {

namespace {

constexpr UInt32 kChunkFrames = 16384;
constexpr std::size_t kChunks = 8;

struct Chunk {
  std::vector<Float32> in;  // planar: channel c at c * frames capacity
  std::vector<Float32> out;
  SInt64 first = 0;  // frames of the file before the chunk
  UInt32 frames = 0;
  unsigned rendering = 0;  // workers still at it
  std::vector<MeterReading> meters;
};

class Pipeline {
 public:
  Pipeline(AudioFileReader& input, std::span<GateSession* const> sessions, unsigned workers,
           const GateSession::RunOptions& options)
      : mInput(input),
        mSessions(sessions),
        mWorkers(std::clamp(workers, 1u, static_cast<unsigned>(sessions.size()))),
        mOptions(options),
        mBlocksPerChunk(std::max<UInt32>(1, kChunkFrames / options.blockSize)),
        mCapacity(mBlocksPerChunk * options.blockSize),
        mChunks(kChunks) {
    const std::size_t samples = sessions.size() * std::size_t{mCapacity};
    for (Chunk& chunk : mChunks) {
      chunk.in.resize(samples);
      chunk.out.resize(samples);
      if (options.meters) chunk.meters.resize(mBlocksPerChunk);
    }
  }

  void Run() {
    // The file's own channel count first, so that a component that refuses
    // it is reported as Run reports it rather than fed channel by channel.
    if (mSessions.size() > 1) mSessions[0]->Prepare(mInput, mInput.Channels(), mOptions.blockSize);
    for (GateSession* session : mSessions) session->Prepare(mInput, 1, mOptions.blockSize);
    std::vector<std::thread> threads;
    try {
      threads.emplace_back([this] { Guard([this] { Write(); }); });
      for (unsigned w = 0; w < mWorkers; ++w)
        threads.emplace_back([this, w] { Guard([this, w] { Work(w); }); });
    } catch (...) {
      Fail(std::current_exception());
    }
    Guard([this] { Read(); });
    for (std::thread& thread : threads) thread.join();
    if (mError) std::rethrow_exception(mError);
    if (mOptions.progress != nullptr) mOptions.progress->Finish();
  }

 private:
  template <class Step>
  void Guard(Step step) noexcept {
    try {
      step();
    } catch (...) {
      Fail(std::current_exception());
    }
  }

  void Fail(std::exception_ptr error) {
    const std::lock_guard lock(mMutex);
    if (!mError) mError = error;
    mChanged.notify_all();
  }

  // Waits until ready() or an error; false on an error. Called with the lock held.
  template <class Ready>
  bool Await(std::unique_lock<std::mutex>& lock, Ready ready) {
    mChanged.wait(lock, [&] { return mError || ready(); });
    return !mError;
  }

  void Read() {
    const std::size_t channels = mSessions.size();
    std::vector<Float32*> to(channels);
    SInt64 read = 0;
    for (std::size_t n = 0;; ++n) {
      Chunk& chunk = mChunks[n % kChunks];
      {
        std::unique_lock lock(mMutex);
        if (!Await(lock, [&] { return mWritten + kChunks > n; })) return;
      }
      // Whole chunks until the end, so that the blocks fall where Run's do.
      UInt32 frames = 0;
      while (frames < mCapacity) {
        for (std::size_t c = 0; c < channels; ++c) to[c] = chunk.in.data() + c * mCapacity + frames;
        const UInt32 got = mInput.Read(to.data(), mCapacity - frames);
        if (got == 0) break;
        frames += got;
      }
      const std::lock_guard lock(mMutex);
      if (frames == 0) {
        mEnd = n;
        mChanged.notify_all();
        return;
      }
      chunk.first = read;
      chunk.frames = frames;
      chunk.rendering = mWorkers;
      read += frames;
      mRead = n + 1;
      mChanged.notify_all();
    }
  }

  // Worker w renders channels w, w + workers, ... of every chunk, block by block.
  void Work(unsigned w) {
    const UInt32 block = mOptions.blockSize;
    for (std::size_t n = 0;; ++n) {
      Chunk& chunk = mChunks[n % kChunks];
      {
        std::unique_lock lock(mMutex);
        if (!Await(lock, [&] { return mRead > n || mEnd == n; }) || mEnd == n) return;
      }
      for (std::size_t c = w; c < mSessions.size(); c += mWorkers) {
        for (UInt32 at = 0, b = 0; at < chunk.frames; at += block, ++b) {
          const UInt32 frames = std::min(block, chunk.frames - at);
          const Float32* in = chunk.in.data() + c * mCapacity + at;
          Float32* out = chunk.out.data() + c * mCapacity + at;
          mSessions[c]->Render(&in, &out, frames);
          if (c == 0 && mOptions.meters) {
            const auto done = static_cast<double>(chunk.first + at + frames);
            chunk.meters[b] = mSessions[0]->ReadMeters(done / mInput.SampleRate());
            AddLevels(chunk.meters[b], in, out, frames);
          }
        }
      }
      const std::lock_guard lock(mMutex);
      if (--chunk.rendering == 0) mChanged.notify_all();
    }
  }

  void Write() {
    const std::size_t channels = mSessions.size();
    std::vector<const Float32*> from(channels);
    for (std::size_t n = 0;; ++n) {
      Chunk& chunk = mChunks[n % kChunks];
      {
        std::unique_lock lock(mMutex);
        if (!Await(lock, [&] { return (mRead > n && chunk.rendering == 0) || mEnd == n; }) || mEnd == n)
          return;
      }
      for (std::size_t c = 0; c < channels; ++c) from[c] = chunk.out.data() + c * mCapacity;
      if (mOptions.write) mOptions.write(from.data(), chunk.frames);
      if (mOptions.meters) {
        const UInt32 blocks = (chunk.frames + mOptions.blockSize - 1) / mOptions.blockSize;
        for (UInt32 b = 0; b < blocks; ++b) mOptions.meters(chunk.meters[b]);
      }
      if (mOptions.progress != nullptr) mOptions.progress->Advance(chunk.frames);
      const std::lock_guard lock(mMutex);
      mWritten = n + 1;
      mChanged.notify_all();
    }
  }

  AudioFileReader& mInput;
  std::span<GateSession* const> mSessions;
  const unsigned mWorkers;
  const GateSession::RunOptions& mOptions;
  const UInt32 mBlocksPerChunk;
  const UInt32 mCapacity;  // frames per chunk
  std::vector<Chunk> mChunks;

  std::mutex mMutex;
  std::condition_variable mChanged;
  // Chunks numbered from 0: read (handed to the workers), written, and the
  // number of the chunk the file ended before; all under mMutex.
  std::size_t mRead = 0;
  std::size_t mWritten = 0;
  std::size_t mEnd = static_cast<std::size_t>(-1);
  std::exception_ptr mError;
};

}  // namespace

void RunChannelsInParallel(AudioFileReader& input, std::span<GateSession* const> sessions, unsigned workers,
                           const GateSession::RunOptions& options) {
  Pipeline(input, sessions, workers, options).Run();
}

}  // namespace varsile::cli

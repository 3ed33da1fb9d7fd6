#include "BufferListChecks.h"

OSStatus CheckPulledBufferList(const AudioBufferList& list, const CAStreamBasicDescription& format,
                               UInt32 frames) noexcept {
  const UInt32 streams = format.NumberChannelStreams();
  if (list.mNumberBuffers < streams) return kAudio_ParamError;
  // 64 bits: frames and bytes per frame are both the host's choice.
  const UInt64 needed = UInt64{frames} * format.mBytesPerFrame;
  const UInt32 channelsPerBuffer = format.NumberInterleavedChannels();
  for (UInt32 i = 0; i < streams; ++i) {
    const AudioBuffer& buffer = list.mBuffers[i];
    if (buffer.mData == nullptr || buffer.mDataByteSize < needed) return kAudio_ParamError;
    // The kernels and the slicing step through a buffer by its channel count:
    // more would read past its end, none would leave frames unread.
    if (buffer.mNumberChannels == 0 || buffer.mNumberChannels > channelsPerBuffer) return kAudio_ParamError;
  }
  return noErr;
}

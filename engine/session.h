// The one record the main window's thread and the feeder thread share about the
// file being played, guarded by its own re-entrant lock.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>

#include "dsp/wave_format.h"
#include "settings/settings_rules.h"

struct OutputHandle;

// The next file of sequential play, opened and checked by the playback while the
// current file plays, for the feeder to read on into without a gap.
struct FollowingWave {
  HANDLE file;               // positioned at its data offset, or null
  uint32_t dataOffset;
  uint32_t dataSize;
  uint32_t totalFrames;
};

constexpr uint32_t kMaxOutputBuffers = 99;

struct PlayerSession {
  CRITICAL_SECTION lock;     // re-entrant on the thread that holds it
  HANDLE stopEvent;          // manual-reset: the feeder thread ends
  HANDLE bufferDoneEvent;    // auto-reset: a buffer came back or was handed over
  HANDLE feederThread;
  DWORD feederThreadId;
  HANDLE sourceFile;         // positioned where the feeder reads next, or null
  uint32_t remainingBytes;   // data bytes not yet read
  uint32_t dataOffset;
  uint32_t dataSize;
  uint32_t totalFrames;
  WaveFormat format;
  uint32_t bufferCount;      // 1 to 99 while playing; kept between plays
  OutputHandle* output;
  HGLOBAL headerBlocks[kMaxOutputBuffers];
  WAVEHDR* headers[kMaxOutputBuffers];
  HGLOBAL bufferBlocks[kMaxOutputBuffers];
  uint32_t bufferBytes;
  uint32_t paused;
  uint32_t ringIndex;        // next buffer the feeder examines
  // Buffers marked free and not yet taken by the feeder, plus buffers queued at
  // the output. Reaching 0 with no data left means playback has drained.
  uint32_t pendingCount;
  uint32_t bytesQueued;      // bytes written to the output since the last start or seek
  HWND window;               // receives the feeder's posted messages
  volatile uint8_t stopFlag; // set by the feeder after a read or write error
  // The one field written without the lock: a single byte the feeder reads when
  // the data runs out.
  volatile uint8_t loopFlag;
  // A converter still writes the file: its end is not the data's end; the feeder
  // waits for more instead of failing or ending, and the data size is the source's
  // length as described, raised to what has been written whenever that is more.
  volatile uint8_t growing;
  // Set by the feeder while it waits for the converter's next bytes; read without
  // the lock by the feeder thread's wait.
  volatile uint8_t awaitingData;
  FollowingWave following;
  // After the feeder went on into the following file: the file it left, which
  // still sounds until the buffers queued before the change have played. The
  // playback switches when the change is heard.
  HANDLE leftFile;
  uint32_t leftDataOffset;
  uint32_t leftDataSize;
  uint32_t leftTotalFrames;
  // Once the change is heard the file left moves here and stays open while a buffer
  // that began in it is still out, so a device that stops then can go back to it.
  HANDLE joinFile;
  // Where each buffer's sound began, recorded by the feeder when the buffer was
  // written: the data byte of its first frame and the serial of its file (0: no
  // record since the ring was handed over). The file the feeder reads has serial
  // fileSerial; going on into the following file raises it by one.
  uint32_t bufferStartByte[kMaxOutputBuffers];
  uint32_t bufferFileSerial[kMaxOutputBuffers];
  uint32_t fileSerial;
  double gain;               // linear volume factor, 1.0 at start-up
  char lastPath[kPathCapacity];
};

// The record is made and ended by CreatePlayerSession and DestroyPlayerSession in
// engine/feeder.h: its end stops the feeder first.

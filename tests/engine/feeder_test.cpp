// The feeder against Wine's real wave-out: ring order, looping across the end of
// the data, the end notice, and the read and write errors.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "devices/engine_tuning.h"
#include "devices/output_devices.h"
#include "engine/feeder.h"
#include "engine/output_handle.h"
#include "engine/session.h"
#include "sources/wave_file.h"
#include "support/simwasapi/sim_wasapi.h"
#include "support/sink_recorder.h"
#include "support/temp_dir.h"
#include "support/underruns.h"
#include "support/watchdog.h"
#include "support/wave_bytes.h"

using namespace wavebytes;

namespace {

struct Posted {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

// A session set up the way the start of a play leaves it: file at the data
// offset, output open on the wave mapper with the buffer-done event, every
// buffer allocated, prepared and marked free.
class FeederTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreatePlayerSession(session_);
    session_.window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      nullptr, nullptr);
    ASSERT_TRUE(session_.window);
    session_.stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    session_.bufferDoneEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  }

  void TearDown() override {
    StopFeederThread(session_);
    if (session_.output) {
      OutputReset(session_.output);
      for (uint32_t i = 0; i < session_.bufferCount; ++i) {
        OutputUnprepare(session_.output, session_.headers[i]);
      }
      OutputClose(session_.output);
    }
    for (uint32_t i = 0; i < session_.bufferCount; ++i) {
      GlobalUnlock(session_.headerBlocks[i]);
      GlobalFree(session_.headerBlocks[i]);
      GlobalUnlock(session_.bufferBlocks[i]);
      GlobalFree(session_.bufferBlocks[i]);
    }
    if (session_.sourceFile) CloseHandle(session_.sourceFile);
    DestroyWindow(session_.window);
    DestroyPlayerSession(session_);
  }

  // 16-bit stereo 44.1 kHz; data bytes count up so every position is visible.
  // `onDisk` below `dataBytes` leaves the file truncated.
  // Runs under the session lock, as the start of a play does, so that a feeder
  // thread already running sees the session fully set up or not at all. A test
  // that wants the thread starts it first: starting it makes new events.
  void Start(uint32_t dataBytes, uint32_t bufferBytes, uint32_t buffers, bool loop,
             uint32_t onDisk = 0, bool prepareAll = true) {
    EnterCriticalSection(&session_.lock);
    StartLocked(dataBytes, bufferBytes, buffers, loop, onDisk, prepareAll);
    LeaveCriticalSection(&session_.lock);
  }

  // The device the session opens, and whether it is held paused at the start.
  uint32_t device_ = WAVE_MAPPER;
  bool holdPaused_ = true;

  void StartLocked(uint32_t dataBytes, uint32_t bufferBytes, uint32_t buffers, bool loop,
                   uint32_t onDisk, bool prepareAll) {
    data_.resize(dataBytes);
    uint32_t x = dataBytes;
    for (uint32_t i = 0; i < dataBytes; ++i) {
      x = x * 1664525u + 1013904223u;
      data_[i] = static_cast<uint8_t>(x >> 24);
    }
    Bytes file = Riff({Chunk("fmt ", FmtBody(1, 2, 44100, 16))});
    Bytes body(data_.begin(), data_.begin() + (onDisk ? onDisk : dataBytes));
    Append(file, Chunk("data", body, dataBytes));
    const std::string path = dir_.Write("feed.wav", file);

    session_.sourceFile = OpenWaveFile(path.c_str(), false);
    ASSERT_NE(session_.sourceFile, INVALID_HANDLE_VALUE);
    FileByteSource source(session_.sourceFile);
    WaveSource wave;
    ASSERT_EQ(ReadWaveSource(source, wave), WaveReadResult::Ok);
    session_.dataOffset = wave.dataOffset;
    session_.dataSize = wave.dataSize;
    session_.totalFrames = wave.totalFrames;
    session_.remainingBytes = wave.dataSize;
    session_.format = std::move(wave.format);
    session_.loopFlag = loop;

    ASSERT_EQ(OutputOpen(&session_.output, device_, session_.format,
                         reinterpret_cast<DWORD_PTR>(session_.bufferDoneEvent), CALLBACK_EVENT),
              MMSYSERR_NOERROR);
    // Held paused: written buffers stay queued where the test can read them.
    if (holdPaused_) {
      ASSERT_EQ(OutputPause(session_.output), MMSYSERR_NOERROR);
    }

    session_.bufferCount = buffers;
    session_.bufferBytes = bufferBytes;
    for (uint32_t i = 0; i < buffers; ++i) {
      session_.headerBlocks[i] = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, sizeof(WAVEHDR));
      session_.headers[i] = static_cast<WAVEHDR*>(GlobalLock(session_.headerBlocks[i]));
      ZeroMemory(session_.headers[i], sizeof(WAVEHDR));
      session_.bufferBlocks[i] = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, bufferBytes);
      session_.headers[i]->lpData = static_cast<LPSTR>(GlobalLock(session_.bufferBlocks[i]));
      session_.headers[i]->dwBufferLength = bufferBytes;
      if (prepareAll || i == 0) {
        ASSERT_EQ(OutputPrepare(session_.output, session_.headers[i]), MMSYSERR_NOERROR);
      }
      session_.headers[i]->dwFlags |= WHDR_DONE;
      ++session_.pendingCount;
    }
  }

  std::vector<Posted> Drain() {
    std::vector<Posted> posted;
    MSG msg;
    while (PeekMessageA(&msg, session_.window, 0, 0, PM_REMOVE)) {
      if (msg.message >= 3024 && msg.message <= 3029) posted.push_back({msg.message, msg.wParam, msg.lParam});
    }
    return posted;
  }

  // Waits (pumping) until `message` arrives; the messages seen meanwhile are kept.
  bool WaitFor(UINT message, std::vector<Posted>& seen, int seconds = 10) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < until) {
      for (const Posted& p : Drain()) {
        seen.push_back(p);
        if (p.message == message) return true;
      }
      Sleep(5);
    }
    return false;
  }

  std::vector<uint8_t> Buffer(uint32_t i) const {
    const WAVEHDR* h = session_.headers[i];
    return std::vector<uint8_t>(h->lpData, h->lpData + h->dwBufferLength);
  }

  std::vector<uint8_t> DataBytes(uint32_t from, uint32_t count) const {
    return std::vector<uint8_t>(data_.begin() + from, data_.begin() + from + count);
  }

  static size_t Count(const std::vector<Posted>& seen, UINT message) {
    size_t n = 0;
    for (const Posted& p : seen) n += p.message == message;
    return n;
  }

  TempDir dir_;
  PlayerSession session_;
  std::vector<uint8_t> data_;
};

TEST_F(FeederTest, LoopingBufferHoldsTheEndAndTheBeginningBackToBack) {
  Start(10000, 4096, 3, true);
  FeedFreeBuffers(session_);
  std::vector<Posted> posted = Drain();
  ASSERT_EQ(Count(posted, MSG_FEEDER_BUFFER_WRITTEN), 3u) << "one wake-up refills every free buffer";
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(posted[i].wParam, i) << "ring order";
    EXPECT_EQ(session_.headers[i]->dwBufferLength, 4096u) << "every buffer full";
    EXPECT_TRUE(session_.headers[i]->dwFlags & WHDR_INQUEUE);
  }
  EXPECT_EQ(Buffer(0), DataBytes(0, 4096));
  EXPECT_EQ(Buffer(1), DataBytes(4096, 4096));
  std::vector<uint8_t> third = DataBytes(8192, 1808);
  std::vector<uint8_t> start = DataBytes(0, 2288);
  third.insert(third.end(), start.begin(), start.end());
  EXPECT_EQ(Buffer(2), third);
  EXPECT_EQ(session_.remainingBytes, 10000u - 2288);
  EXPECT_EQ(session_.bytesQueued, 3u * 4096);
  EXPECT_EQ(session_.pendingCount, 3u);
  EXPECT_EQ(session_.ringIndex, 0u) << "back at the first buffer, which is still out";
}

TEST_F(FeederTest, LastBufferIsShortAndTheEndNoticeComesOnceWhenAllAreBack) {
  ASSERT_TRUE(StartFeederThread(session_));
  Start(10000, 4096, 3, false);
  SetEvent(session_.bufferDoneEvent);
  std::vector<Posted> seen;
  ASSERT_TRUE(WaitFor(MSG_FEEDER_BUFFER_WRITTEN, seen));
  Sleep(200);
  Drain();
  EXPECT_EQ(session_.headers[2]->dwBufferLength, 1808u);

  ASSERT_EQ(OutputRestart(session_.output), MMSYSERR_NOERROR);
  seen.clear();
  ASSERT_TRUE(WaitFor(MSG_FEEDER_END, seen));
  const Posted end = seen.back();
  EXPECT_EQ(end.wParam, 4096u * 1000 / 176400 + 100) << "one full buffer's duration + 100 ms";
  EXPECT_EQ(Count(seen, MSG_FEEDER_BUFFER_WRITTEN), 0u);
  // More wake-ups (signals and time-outs) post nothing more.
  SetEvent(session_.bufferDoneEvent);
  Sleep(700);
  EXPECT_TRUE(Drain().empty());
  EXPECT_EQ(session_.ringIndex, 2u) << "stays on the buffer that ended the play";
}

TEST_F(FeederTest, DataShorterThanOneBufferLeavesTheOthersIdle) {
  ASSERT_TRUE(StartFeederThread(session_));
  Start(1000, 4096, 8, false);
  SetEvent(session_.bufferDoneEvent);
  std::vector<Posted> seen;
  ASSERT_TRUE(WaitFor(MSG_FEEDER_BUFFER_WRITTEN, seen));
  Sleep(700);  // more wake-ups, by time-out
  for (const Posted& p : Drain()) seen.push_back(p);
  EnterCriticalSection(&session_.lock);
  EXPECT_EQ(Count(seen, MSG_FEEDER_BUFFER_WRITTEN), 1u);
  EXPECT_EQ(Count(seen, MSG_FEEDER_END), 0u) << "the written one has not come back";
  EXPECT_EQ(session_.headers[0]->dwBufferLength, 1000u);
  EXPECT_EQ(session_.pendingCount, 1u);
  for (uint32_t i = 1; i < 8; ++i) EXPECT_FALSE(session_.headers[i]->dwFlags & (WHDR_DONE | WHDR_INQUEUE));
  LeaveCriticalSection(&session_.lock);

  ASSERT_EQ(OutputRestart(session_.output), MMSYSERR_NOERROR);
  EXPECT_TRUE(WaitFor(MSG_FEEDER_END, seen));
}

TEST_F(FeederTest, TruncatedFileStopsAtTheFirstShortRead) {
  Start(20000, 4096, 4, false, 6000);
  FeedFreeBuffers(session_);
  std::vector<Posted> posted = Drain();
  EXPECT_EQ(Count(posted, MSG_FEEDER_BUFFER_WRITTEN), 1u);
  EXPECT_EQ(Count(posted, MSG_FEEDER_READ_ERROR), 1u);
  EXPECT_TRUE(session_.stopFlag);
  EXPECT_FALSE(session_.headers[1]->dwFlags & WHDR_INQUEUE) << "the short buffer is not written";
  // Later wake-ups do nothing while the stop flag stays set.
  session_.headers[0]->dwFlags |= WHDR_DONE;
  FeedFreeBuffers(session_);
  EXPECT_TRUE(Drain().empty());
}

TEST_F(FeederTest, FailedWriteReportsTheRingIndexAndTheCode) {
  Start(40000, 4096, 3, false, 0, /*prepareAll=*/false);
  FeedFreeBuffers(session_);
  std::vector<Posted> posted = Drain();
  ASSERT_EQ(Count(posted, MSG_FEEDER_BUFFER_WRITTEN), 1u);
  ASSERT_EQ(Count(posted, MSG_FEEDER_WRITE_ERROR), 1u);
  EXPECT_EQ(posted.back().wParam, 1u);
  EXPECT_EQ(posted.back().lParam, static_cast<LPARAM>(WAVERR_UNPREPARED));
  EXPECT_TRUE(session_.stopFlag);
}

TEST_F(FeederTest, BufferWhoseSignalWasLostIsRefilledByTheTimeOut) {
  // The buffers are free but nobody signals the buffer-done event: only the
  // feeder's own time-out can find them.
  ASSERT_TRUE(StartFeederThread(session_));
  EnterCriticalSection(&session_.lock);
  StartLocked(400000, 4096, 2, false, 0, true);
  for (uint32_t i = 0; i < 2; ++i) session_.headers[i]->dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
  LeaveCriticalSection(&session_.lock);
  Sleep(100);  // the wake-up that opening the output signalled finds nothing
  ASSERT_TRUE(Drain().empty());
  EnterCriticalSection(&session_.lock);
  session_.headers[0]->dwFlags |= WHDR_DONE;  // handed back without a signal
  LeaveCriticalSection(&session_.lock);
  std::vector<Posted> seen;
  EXPECT_TRUE(WaitFor(MSG_FEEDER_BUFFER_WRITTEN, seen, 3));
}

TEST_F(FeederTest, NothingIsDoneWithoutAnOutputOrAFile) {
  Start(10000, 4096, 3, false);
  OutputHandle* output = session_.output;
  session_.output = nullptr;
  FeedFreeBuffers(session_);
  session_.output = output;
  HANDLE file = session_.sourceFile;
  session_.sourceFile = nullptr;
  FeedFreeBuffers(session_);
  session_.sourceFile = file;
  EXPECT_TRUE(Drain().empty());
  EXPECT_EQ(session_.pendingCount, 3u);
}

TEST_F(FeederTest, MainThreadHoldingTheLockNeverSeesABufferWrittenTwice) {
  ASSERT_TRUE(StartFeederThread(session_));
  Start(4000000, 4096, 8, true);
  SetEvent(session_.bufferDoneEvent);
  ASSERT_EQ(OutputRestart(session_.output), MMSYSERR_NOERROR);
  // Stand-ins for stop and seek: take the lock, check the ring, release. A buffer
  // written while still queued would come back from wave-out as
  // WAVERR_STILLPLAYING and stop the feeder with a write-error notice.
  for (int i = 0; i < 3000; ++i) {
    EnterCriticalSection(&session_.lock);
    uint32_t queued = 0;
    for (uint32_t b = 0; b < 8; ++b) queued += (session_.headers[b]->dwFlags & WHDR_INQUEUE) ? 1 : 0;
    EXPECT_LE(queued, 8u);
    EXPECT_LE(session_.pendingCount, 8u);
    LeaveCriticalSection(&session_.lock);
    if (i % 100 == 0) Drain();
  }
  EXPECT_FALSE(session_.stopFlag);
  std::vector<Posted> seen;
  EXPECT_TRUE(WaitFor(MSG_FEEDER_BUFFER_WRITTEN, seen)) << "still streaming";
  EXPECT_EQ(Count(seen, MSG_FEEDER_WRITE_ERROR), 0u);
}

}  // namespace

namespace {

TEST_F(FeederTest, BuffersAreScaledByTheGainBeforeTheyAreWritten) {
  Start(8192, 4096, 2, false);
  session_.gain = 2.0;
  FeedFreeBuffers(session_);
  ASSERT_EQ(Count(Drain(), MSG_FEEDER_BUFFER_WRITTEN), 2u);
  for (uint32_t b = 0; b < 2; ++b) {
    const int16_t* written = reinterpret_cast<const int16_t*>(session_.headers[b]->lpData);
    for (uint32_t i = 0; i < 2048; ++i) {
      int16_t original;
      std::memcpy(&original, &data_[b * 4096 + i * 2], 2);
      const int doubled = original * 2;
      const int16_t expected = static_cast<int16_t>(doubled > 32767 ? 32767 : doubled < -32768 ? -32768 : doubled);
      ASSERT_EQ(written[i], expected) << "buffer " << b << " sample " << i;
    }
  }
}

}  // namespace

namespace {

// The feeder playing on a simulated WASAPI endpoint, which keeps every frame the
// device was given.
class SimulatedDevice : public FeederTest {
 protected:
  void SetUp() override {
    ProcessEndpointCache().Release();
    ProcessEngineTuning() = EngineTuning{};
    ProcessEngineTuning().lastReadTick = GetTickCount();
    simwasapi::EndpointTraits traits;
    traits.id = L"{sim}.loop";
    traits.friendlyName = L"Loop";
    endpoint_ = sim_.AddEndpoint(traits);
    FeederTest::SetUp();
    device_ = 3;  // the first endpoint after the three default roles
    holdPaused_ = false;
  }
  void TearDown() override {
    FeederTest::TearDown();
    ProcessEndpointCache().Release();
    ProcessEngineTuning() = EngineTuning{};
  }

  std::vector<uint8_t> Received() const {
    std::vector<uint8_t> bytes;
    for (const simwasapi::RenderedBuffer& b : sim_.Rendered(endpoint_)) {
      bytes.insert(bytes.end(), b.bytes.begin(), b.bytes.end());
    }
    return bytes;
  }

  simwasapi::SimWasapi sim_;
  size_t endpoint_ = 0;
};

// Looping: the device must receive the data ten times back to back, frame for
// frame, whether or not the buffer size divides it.
class GaplessLoop : public SimulatedDevice, public ::testing::WithParamInterface<uint32_t> {};

TEST_F(SimulatedDevice, GainOfTwoArrivesAtTheDeviceDoubledAndSaturated) {
  const uint32_t dataBytes = 4400 * 4;
  Watchdog watchdog("a gained play on the simulated endpoint", 120);
  ASSERT_TRUE(StartFeederThread(session_));
  EnterCriticalSection(&session_.lock);
  StartLocked(dataBytes, 4096, 4, false, 0, true);
  session_.gain = 2.0;
  LeaveCriticalSection(&session_.lock);
  SetEvent(session_.bufferDoneEvent);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (Received().size() < dataBytes && std::chrono::steady_clock::now() < until) Sleep(20);
  StopFeederThread(session_);
  const std::vector<uint8_t> got = Received();
  ASSERT_GE(got.size(), dataBytes);
  size_t saturated = 0;
  for (uint32_t i = 0; i < dataBytes / 2; ++i) {
    int16_t original, arrived;
    std::memcpy(&original, &data_[i * 2], 2);
    std::memcpy(&arrived, &got[i * 2], 2);
    const int doubled = original * 2;
    saturated += doubled > 32767 || doubled < -32768;
    const int16_t expected = static_cast<int16_t>(doubled > 32767 ? 32767 : doubled < -32768 ? -32768 : doubled);
    ASSERT_EQ(arrived, expected) << "sample " << i;
  }
  EXPECT_GT(saturated, 0u) << "the data reaches both ends of the range";
}

// 4400 bytes divides the data; 4096 leaves a different split at every join.
TEST_P(GaplessLoop, DeviceReceivesTenBackToBackCopiesOfTheData) {
  const uint32_t dataBytes = 4400 * 4;  // 0.1 s of 16-bit stereo at 44.1 kHz
  Watchdog watchdog("ten looped rounds on the simulated endpoint", 120);
  ASSERT_TRUE(StartFeederThread(session_));
  Start(dataBytes, GetParam(), 8, true);
  SetEvent(session_.bufferDoneEvent);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::vector<Posted> seen;
  while (Received().size() < 11 * dataBytes && std::chrono::steady_clock::now() < until) {
    for (const Posted& p : Drain()) seen.push_back(p);
    Sleep(20);
  }
  // Read while the feeder still runs: once it stops, the stream runs dry by design.
  const uint32_t underruns = sim_.Underruns(endpoint_);
  StopFeederThread(session_);
  EXPECT_EQ(Count(seen, MSG_FEEDER_WRITE_ERROR) + Count(seen, MSG_FEEDER_READ_ERROR), 0u);
  EXPECT_EQ(underruns, 0u) << "the device never waited for data";
  const std::vector<uint8_t> got = Received();
  ASSERT_GE(got.size(), 10u * dataBytes);
  for (uint32_t round = 0; round < 10; ++round) {
    ASSERT_TRUE(std::equal(data_.begin(), data_.end(), got.begin() + round * dataBytes))
        << "round " << round;
  }
}

INSTANTIATE_TEST_SUITE_P(BufferSizes, GaplessLoop, ::testing::Values(4400u, 4096u));

TEST(FeederStallBound, TheRingsDurationPlusASecondAtTheSlowerByteRate) {
  struct Case {
    const char* name;
    uint32_t bufferBytes, buffers, avgBytesPerSec, rate, blockAlign, expected;
  };
  const Case cases[] = {
      {"4 x 100 ms, 16-bit stereo 44.1 kHz", 17640, 4, 176400, 44100, 4, 1400},
      {"99 x 65535 ms, 8 x 32-bit at 192 kHz", 65535u * 6144, 99, 6144000, 192000, 32, 99u * 65535 + 1000},
      {"a header claiming ten times the bytes per second", 17640, 4, 1764000, 44100, 4, 1400},
      {"IMA ADPCM: the declared rate is the real one", 44251, 4, 44251, 44100, 2048, 5000},
      {"no rate at all: never", 17640, 4, 0, 0, 4, 0xFFFFFFFF},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StallBoundMs(c.bufferBytes, c.buffers, c.avgBytesPerSec, c.rate, c.blockAlign), c.expected)
        << c.name;
  }
}

// The place a stopped device leaves: the first frame of the oldest buffer not
// given back, whatever the device reports played (Wine's position counts what it
// handed a dying server); with nothing written since the hand-over, the read position.
TEST(PlaceNotYetHeard, TheOldestBufferNotGivenBack) {
  struct Case {
    const char* name;
    uint32_t ringIndex;
    bool written;           // the buffers hold records since the ring was handed over
    uint32_t expectedByte;  // buffers 2, 3, 0, 1 were written in turn from byte 5000, 1000 bytes each
  };
  const Case cases[] = {
      {"the oldest out", 2, true, 5000},
      {"the one after a buffer given back", 3, true, 6000},
      {"across the ring's end", 1, true, 8000},
      {"nothing written: where the feeder reads", 2, false, 9000},
  };
  for (const Case& c : cases) {
    PlayerSession session;
    CreatePlayerSession(session);
    WAVEHDR headers[4] = {};
    session.bufferCount = 4;
    session.fileSerial = 1;
    session.dataSize = 20000;
    session.remainingBytes = 11000;
    const uint32_t order[4] = {2, 3, 0, 1};
    for (uint32_t k = 0; k < 4 && c.written; ++k) {
      session.headers[order[k]] = &headers[order[k]];
      session.bufferFileSerial[order[k]] = 1;
      session.bufferStartByte[order[k]] = 5000 + 1000 * k;
    }
    session.ringIndex = c.ringIndex;
    const KeptPlace place = PlaceNotYetHeard(session);
    EXPECT_EQ(place.byte, c.expectedByte) << c.name;
    EXPECT_EQ(place.serial, 1u) << c.name;
    DestroyPlayerSession(session);
  }
}

// The output held paused keeps every buffer written, as a device that stopped
// taking sound does; the looks are given their tick counts, so the bound is
// checked to the millisecond without waiting for it.
TEST_F(SimulatedDevice, OutputThatKeepsEveryBufferIsReportedOnceTheRingAndASecondHavePassed) {
  using Action = void (*)(PlayerSession&);
  // What a return of every buffer looks like to the feeder: a seek's reset, the
  // output held paused again before the ring is refilled.
  const Action returnAll = [](PlayerSession& s) {
    ASSERT_EQ(OutputReset(s.output), MMSYSERR_NOERROR);
    ASSERT_EQ(OutputPause(s.output), MMSYSERR_NOERROR);
  };
  const Action pause = [](PlayerSession& s) { s.paused = 1; };
  const Action restart = [](PlayerSession& s) { s.paused = 0; };
  struct Step {
    uint32_t at;  // ms after the first look
    Action before;
    bool stalled;
  };
  struct Case {
    const char* name;
    uint32_t dataBytes, bufferBytes, buffers;
    DWORD firstTick;
    std::vector<Step> steps;
  };
  const std::vector<Case> cases = {
      {"4 x 100 ms", 400000, 17640, 4, 5000, {{0, nullptr, false}, {1400, nullptr, false}, {1401, nullptr, true}}},
      {"8 x 1 s: the bound grows with the ring", 2000000, 176400, 8, 5000,
       {{0, nullptr, false}, {1401, nullptr, false}, {9000, nullptr, false}, {9001, nullptr, true}}},
      {"the tick count wraps on the way", 400000, 17640, 4, 0xFFFFFF00u,
       {{0, nullptr, false}, {1400, nullptr, false}, {1401, nullptr, true}}},
      {"a minute paused: measured from the first look after the restart", 400000, 17640, 4, 5000,
       {{0, nullptr, false},
        {100, pause, false},
        {60000, nullptr, false},
        {60100, restart, false},
        {61500, nullptr, false},
        {61501, nullptr, true}}},
      {"buffers coming back restart the measure", 400000, 17640, 4, 5000,
       {{0, nullptr, false}, {1000, returnAll, false}, {2400, nullptr, false}, {2401, nullptr, true}}},
      {"the last buffer never comes back", 1000, 4096, 2, 5000,
       {{0, nullptr, false}, {1046, nullptr, false}, {1047, nullptr, true}}},
      {"the play has drained: the end notice, then nothing", 1000, 4096, 2, 5000,
       {{0, nullptr, false}, {10, returnAll, false}, {100000, nullptr, false}}},
  };
  holdPaused_ = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FeederTest::TearDown();
    FeederTest::SetUp();
    Start(c.dataBytes, c.bufferBytes, c.buffers, false);
    FeederWatch watch = {c.firstTick - 777, false};  // a look long before this play
    size_t stalls = 0;
    for (const Step& step : c.steps) {
      SCOPED_TRACE(step.at);
      if (step.before) step.before(session_);
      FeedFreeBuffers(session_, &watch, c.firstTick + step.at);
      const std::vector<Posted> posted = Drain();
      EXPECT_EQ(Count(posted, MSG_FEEDER_WRITE_ERROR) + Count(posted, MSG_FEEDER_READ_ERROR), 0u);
      stalls += Count(posted, MSG_FEEDER_DEVICE_STALLED);
      ASSERT_EQ(stalls, step.stalled ? 1u : 0u);
      if (step.stalled) {
        EXPECT_EQ(posted.back().message, MSG_FEEDER_DEVICE_STALLED);
        EXPECT_EQ(posted.back().wParam, session_.ringIndex) << "the buffer waited for";
        EXPECT_TRUE(session_.stopFlag) << "the feeder stops, as on a write error";
      }
    }
    // Once reported the feeder has stopped: later looks post nothing more.
    FeedFreeBuffers(session_, &watch, c.firstTick + 200000);
    EXPECT_EQ(Count(Drain(), MSG_FEEDER_DEVICE_STALLED), 0u);
  }
}

// The real order of a slow start: the feeder thread waits for the lock while the
// window's thread holds it for seconds (converting a file), then finds a whole new
// ring handed over. None of that wait may count: the output, held paused, keeps
// every buffer from the hand-over on, and the notice comes once the ring and a
// second (1,400 ms) have passed since then, not at the feeder's next look.
TEST_F(FeederTest, LockHeldForSecondsBeforeTheHandOverIsNoStall) {
  ASSERT_TRUE(StartFeederThread(session_));
  Sleep(100);  // the thread sleeps in its wait, then looks with the lock free
  EnterCriticalSection(&session_.lock);
  Sleep(3000);  // the thread's time-out has passed: it waits for the lock
  StartLocked(400000, 17640, 4, false, 0, true);
  SetEvent(session_.bufferDoneEvent);
  const DWORD handedOver = GetTickCount();
  LeaveCriticalSection(&session_.lock);

  std::vector<Posted> seen;
  ASSERT_TRUE(WaitFor(MSG_FEEDER_DEVICE_STALLED, seen, 15)) << "a device that keeps every buffer";
  const DWORD after = GetTickCount() - handedOver;
  EXPECT_GE(after, 1400u - 20u) << "the wait for the lock was counted as a stall";
  EXPECT_EQ(Count(seen, MSG_FEEDER_BUFFER_WRITTEN), 4u);
}

// Loops `round` through the feeder on the wave mapper while the null sink is
// recorded; whether ten rounds are there whole (see RecordedWhole).
bool LoopAndRecord(const std::vector<int16_t>& round) {
  const uint32_t frames = static_cast<uint32_t>(round.size() / 2);
  TempDir dir;
  Bytes file = Riff({Chunk("fmt ", FmtBody(1, 2, 44100, 16)),
                     Chunk("data", Bytes(reinterpret_cast<const uint8_t*>(round.data()),
                                         reinterpret_cast<const uint8_t*>(round.data()) + frames * 4))});
  const std::string path = dir.Write("loop.wav", file);

  PlayerSession session;
  CreatePlayerSession(session);
  session.window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  SinkRecorder recorder(dir, 7);
  if (!StartFeederThread(session) || !recorder.Started()) {
    ADD_FAILURE() << "the feeder or the recorder did not start";
    return false;
  }
  Sleep(1500);

  EnterCriticalSection(&session.lock);
  session.sourceFile = OpenWaveFile(path.c_str(), false);
  FileByteSource source(session.sourceFile);
  WaveSource wave;
  EXPECT_EQ(ReadWaveSource(source, wave), WaveReadResult::Ok);
  session.dataOffset = wave.dataOffset;
  session.dataSize = session.remainingBytes = wave.dataSize;
  session.format = std::move(wave.format);
  session.loopFlag = 1;
  EXPECT_EQ(OutputOpen(&session.output, WAVE_MAPPER, session.format,
                       reinterpret_cast<DWORD_PTR>(session.bufferDoneEvent), CALLBACK_EVENT),
            MMSYSERR_NOERROR);
  // The player's default ring: four buffers of 100 ms, which do not divide a round.
  const uint32_t bufferBytes = 17640;
  session.bufferCount = 4;
  session.bufferBytes = bufferBytes;
  std::vector<std::vector<uint8_t>> memory(4, std::vector<uint8_t>(bufferBytes));
  std::vector<WAVEHDR> headers(4);
  for (uint32_t i = 0; i < 4; ++i) {
    std::memset(&headers[i], 0, sizeof(WAVEHDR));
    headers[i].lpData = reinterpret_cast<LPSTR>(memory[i].data());
    headers[i].dwBufferLength = bufferBytes;
    EXPECT_EQ(OutputPrepare(session.output, &headers[i]), MMSYSERR_NOERROR);
    headers[i].dwFlags |= WHDR_DONE;
    session.headers[i] = &headers[i];
    ++session.pendingCount;
  }
  SetEvent(session.bufferDoneEvent);
  LeaveCriticalSection(&session.lock);

  const std::vector<int16_t> got = recorder.Samples();
  StopFeederThread(session);
  OutputReset(session.output);
  for (WAVEHDR& h : headers) OutputUnprepare(session.output, &h);
  OutputClose(session.output);
  CloseHandle(session.sourceFile);
  DestroyWindow(session.window);
  session.output = nullptr;
  session.sourceFile = nullptr;
  DestroyPlayerSession(session);

  std::vector<int16_t> tenRounds;
  for (int r = 0; r < 10; ++r) tenRounds.insert(tenRounds.end(), round.begin(), round.end());
  return RecordedWhole(got, tenRounds, 2 * 4096);
}

TEST(GaplessLoopOnWaveOut, NullSinkRecordsTenRoundsWithoutAGap) {
  // A quarter second of pseudo-random samples looped: any gap, doubled or lost
  // frame at a join breaks the one stretch of ten copies in the recording.
  std::vector<int16_t> round(11025 * 2);
  uint32_t x = 777;
  for (int16_t& s : round) {
    x = x * 1664525u + 1013904223u;
    s = static_cast<int16_t>(x >> 16);
  }
  bool whole = false;
  for (int attempt = 0; attempt < kRecordingAttempts && !whole; ++attempt) {
    whole = LoopAndRecord(round);
    if (!whole) std::fprintf(stderr, "recording attempt %d: not whole\n", attempt + 1);
  }
  EXPECT_TRUE(whole) << "ten rounds, no gap at a join";
}

}  // namespace

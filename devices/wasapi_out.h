// The output device interface of the playback worker and its one implementation,
// a WASAPI render endpoint driven in exclusive, event-driven mode.
#pragma once

#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <cstdint>

#include "devices/output_devices.h"
#include "devices/wasapi_negotiation.h"
#include "dsp/sample_format.h"
#include "win32/scoped_com.h"

// The worker's view of a device. These base implementations all fail.
class CAUDIODEVICE {
 public:
  CAUDIODEVICE() = default;
  CAUDIODEVICE(const CAUDIODEVICE&) = delete;
  CAUDIODEVICE& operator=(const CAUDIODEVICE&) = delete;

  // Opens WASAPI entry `index` for `format` (read on entry, the accepted device
  // format on success) with `event` as the period signal. Reports the buffer and
  // latency in frames and a wave-out error code; `name` receives the endpoint name.
  virtual bool Open(OutputDeviceIndex index, SampleFormat& format, HANDLE event,
                    uint32_t& bufferFrames, uint32_t& latencyFrames, uint32_t& error,
                    wchar_t* name, uint32_t nameCapacity);
  virtual void Close() {}
  virtual bool GetBuffer(uint32_t /*frames*/, BYTE** /*data*/) { return false; }
  virtual bool ReleaseBuffer(uint32_t /*frames*/, DWORD /*flags*/) { return false; }
  virtual bool Stop() { return false; }
  virtual bool Start() { return false; }
  virtual ~CAUDIODEVICE() = default;
};

// Belongs to the thread that constructs it: COM is initialised there as a
// single-threaded apartment, and every call and the destructor run there. Never
// reopened; every playback start makes a new one.
class CWASAPIOUT : public CAUDIODEVICE {
 public:
  CWASAPIOUT();
  ~CWASAPIOUT() override;

  bool Open(OutputDeviceIndex index, SampleFormat& format, HANDLE event, uint32_t& bufferFrames,
            uint32_t& latencyFrames, uint32_t& error, wchar_t* name,
            uint32_t nameCapacity) override;
  void Close() override;
  // Single forwarding calls: the render loop adds nothing of its own to them.
  bool GetBuffer(uint32_t frames, BYTE** data) override;
  bool ReleaseBuffer(uint32_t frames, DWORD flags) override;
  bool Stop() override;
  bool Start() override;

  // The accepted buffer duration (100 ns units) after a successful Open.
  int64_t Period() const { return period_; }
  // Every format Open offered and the endpoint's answer to each, also after a failure.
  const NegotiationLog& Negotiation() const { return negotiation_; }

 private:
  // The device's minimum period, then the period asked for, then the accepted duration.
  int64_t period_ = 0;
  ComPtr<IMMDevice> device_;
  ComPtr<IAudioClient> audioClient_;
  ComPtr<IAudioRenderClient> renderClient_;
  HRESULT comInitResult_;
  DWORD ownerThread_;
  NegotiationLog negotiation_;
};

// The extensible integer-PCM record for a device format: channels, rate, container
// and valid bits from `format`, one speaker bit per channel, PCM sub-format.
WAVEFORMATEXTENSIBLE BuildExclusiveFormat(const SampleFormat& format);

// Tries the candidate ladder on `client` at the record's rate with buffer duration
// and periodicity aligned from `period`, once more with one channel added when the
// channel count is odd. Only S_OK counts: then `record` holds the accepted format
// and `period` the accepted duration. Otherwise returns the last result. Each offer
// and its answer go to `log` when there is one.
HRESULT NegotiateExclusiveFormat(WAVEFORMATEXTENSIBLE& record, IAudioClient* client,
                                 int64_t& period, NegotiationLog* log = nullptr);

// The wave-out code Open reports for a failed negotiation.
uint32_t NegotiationErrorCode(HRESULT result);

// Shared set-up for device tests: a simulated WASAPI system installed at the
// enumerator seam, and a fresh endpoint cache on both sides of each test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "devices/output_devices.h"
#include "tests/support/simwasapi/sim_wasapi.h"

class SimDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProcessEndpointCache().Release();
    liveBefore_ = simwasapi::SimWasapi::LiveObjects();
  }
  void TearDown() override {
    ProcessEndpointCache().Release();
    EXPECT_EQ(simwasapi::SimWasapi::LiveObjects(), liveBefore_) << "simulated COM objects leaked";
  }

  static simwasapi::EndpointTraits Endpoint(const wchar_t* id, const wchar_t* name) {
    simwasapi::EndpointTraits traits;
    traits.id = id;
    traits.friendlyName = name;
    return traits;
  }

  // The identifier of a device handed out, for telling which endpoint it is.
  static std::wstring IdOf(IMMDevice* device) {
    LPWSTR id = nullptr;
    if (FAILED(device->GetId(&id))) return L"<no id>";
    std::wstring text(id);
    CoTaskMemFree(id);
    return text;
  }

  simwasapi::SimWasapi sim;

 private:
  int liveBefore_ = 0;
};

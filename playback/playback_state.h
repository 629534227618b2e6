// What the playback keeps beside the session, one record per window: the place to
// resume from, the conversion or REX render a start waits for, the entries of the
// file-name box's list that sequential play goes on into, and a device that went
// away. The window's own record extends it (window/main_window.h).
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "settings/settings_rules.h"

struct PlayerSession;
struct PreparationJob;

// The range of the window's private messages a stop purges from the queue (the
// feeder's 3025 to 3028 are in engine/feeder.h).
constexpr UINT kFeederMessageFirst = 3024;
constexpr UINT kFeederMessageLast = 3029;

// Timers of the window.
constexpr UINT_PTR TIMER_POSITION = 1111;
constexpr UINT_PTR TIMER_END_OF_PLAY = 1112;
constexpr UINT_PTR TIMER_BUTTON_REPEAT = 1113;
constexpr UINT_PTR TIMER_PREPARATION = 1114;  // the status line while a file is prepared
constexpr UINT_PTR TIMER_DEVICE_RETRY = 1115;  // a device that went away is looked for again
constexpr UINT kDeviceRetryPeriodMs = 500;
constexpr UINT kPositionPeriodMs = 50;
constexpr UINT kButtonRepeatPeriodMs = 100;
constexpr UINT kPreparationPeriodMs = 250;

// Asks OpenAndStart to resume where the same file stopped.
constexpr uint32_t kResumePosition = 0xFFFFFFFF;

// An entry of the file-name box's list: its position and its text.
struct HistoryEntry {
  int32_t index;
  char path[kPathCapacity];
};

struct PlaybackState {
  PlayerSession* session;
  // The frame that was playing at the latest position update; survives a stop so
  // that Play-or-Stop can resume there.
  uint32_t resumePosition;
  // The conversion or REX render a start waits for, or none; the serial of the
  // latest, which its done notice carries.
  PreparationJob* preparation;
  uint32_t preparationSerial;
  bool finishingStart;  // set while the start goes on with a prepared file
  // The file of the job plays while its converter still writes it.
  bool streaming;
  uint32_t streamedOverviewBytes;
  // The file MSG_LOAD_OVERVIEW draws; empty once playback stopped.
  char overviewPath[kPathCapacity];
  // Sequential play: the next entry was looked at for this file already.
  bool followingTried;
  // The entry of the session's following file; once the feeder has gone on into
  // it, the entry of the file it went into, until that change is heard.
  HistoryEntry followingEntry;
  // The entry of the file the latest change heard went into.
  HistoryEntry enteredEntry;
  // REX renders that were cancelled but cannot be interrupted: waited for before
  // the window goes, so that each deletes its file.
  std::vector<HANDLE> abandonedRenders;
  // The device stopped serving while a file played: the session keeps the file at
  // the place not yet heard, with no output, and the device is looked for by its
  // name (the box's text; the mapper by its entry) until it is back or `waitMs`
  // (the setting; 0 stops at once) has passed unpaused since `waitSince`. The name
  // stays until a start opens a device or the user stops: a file chosen or handed
  // over meanwhile waits for the same device.
  bool deviceWait;
  bool awaitedMapper;
  wchar_t awaitedDevice[64];
  DWORD waitSince;
  uint32_t waitMs;
};

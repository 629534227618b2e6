// Finding, checking and binding the outside REX library, reference-counted so it
// is in memory only while a loop is rendered. Any thread; the library itself is
// used by one render at a time.
#pragma once

#include "rex/rex_entries.h"

// Results of LoadRexLibrary.
constexpr int kRexLoadOk = 1;
constexpr int kRexLoadNoMemory = 100;
constexpr int kRexLoadFailed = 101;      // not loadable, path unreadable, entry missing, "Open" refused
constexpr int kRexLoadTooOld = 102;
constexpr int kRexLoadNotFound = 103;
constexpr int kRexLoadTooNew = 104;      // major version 2 or higher
constexpr int kRexLoadOldSystem = 109;   // system older than 5.1, or its version unreadable
constexpr int kRexLoadAlreadyLoaded = 201;  // the load count was raised by one

// Only 1 means this call loaded, bound and opened the library.
int LoadRexLibrary();
// Lowers the load count; the last unload calls "Close" and frees the library.
void UnloadRexLibrary();

// The bound entries while the library is loaded, null otherwise.
const RexEntryTable* LoadedRexEntries();

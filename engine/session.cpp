// The shared session record's creation and destruction.
#include "engine/session.h"

#include <new>

#include "engine/feeder.h"

void CreatePlayerSession(PlayerSession& session) {
  // The record holds a C++ owner (the format) beside plain fields: construct it
  // in place, which zero-fills every plain field.
  new (&session) PlayerSession();
  InitializeCriticalSection(&session.lock);
  session.gain = 1.0;
}

void DestroyPlayerSession(PlayerSession& session) {
  StopFeederThread(session);
  DeleteCriticalSection(&session.lock);
  session.~PlayerSession();
}

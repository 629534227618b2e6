// Loads and unloads the REX library once and exits with the loader's result, so a
// test can run the loader in a process that Wine tells an older system version.
#include "rex/rex_library.h"

int main() {
  const int result = LoadRexLibrary();
  if (result == kRexLoadOk) UnloadRexLibrary();
  return result;
}

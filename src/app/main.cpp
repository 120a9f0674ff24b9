// The main program. Until the user interface exists this start only checks that the engine links
// and says so.
#include <cstdio>

#include "platform/Log.h"
#include "platform/RecoveryContext.h"

int main() {
  GetRecoveryContext();
  std::printf("Corvale: the recovery engine is built; the user interface is not there yet.\n");
  return 0;
}

// The restart helper QBXRestart, started by the main program after a change of language.
#include "launcher/Restart.h"

int main() { return corvale::launcher::RestartMain(corvale::launcher::DefaultRestartSettings()); }

// Ctrl-C during an export or import: the first one asks the run to stop
// after the current item, the second ends the program at once.
#pragma once

// Installs the handler (the previous one is kept for RestoreInterrupt) and
// clears the request. Cannot fail.
void InstallInterrupt();

// Puts the previous handler back.
void RestoreInterrupt();

// Non-zero once Ctrl-C was pressed since InstallInterrupt.
int InterruptRequested();

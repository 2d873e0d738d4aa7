#include "serial/StandardStreams.h"

// Nothing to do on Windows. A port is reached through a handle of its own from CreateFile, never
// through the C runtime's descriptors 0 to 2; a standard stream the process started without stays
// without a handle, and what is printed to it fails instead of reaching another file. The serial
// port therefore cannot become the standard output here.
bool EnsureStandardStreams() {
    return true;
}

bool StandardOutputWasClosed() {
    return false; // a write to it fails, and is reported as any failed write is
}

#include "app/MeterTestApp.h"
#include "serial/StandardStreams.h"

int main(int argc, char** argv) {
    // Before the port opens: a device that got descriptor 1 or 2 would receive Qt's messages.
    if (!EnsureStandardStreams()) {
        return 1;
    }
    CMeterTestApp app(argc, argv);
    app.InitInstance();
    return 0;
}

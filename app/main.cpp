#include <QtGlobal>

#include "app/MeterTestApp.h"
#include "serial/StandardStreams.h"

int main(int argc, char** argv) {
    // Before the port opens: a device that got descriptor 1 or 2 would receive Qt's messages.
    if (!EnsureStandardStreams()) {
        return 1;
    }
    // The window is small and its repaints are strips of a few hundred pixels, two or three for
    // each exchange. Through shared memory every such repaint costs a round trip (the next one
    // must wait until the X server has read the segment); sent on the connection they cost none.
    // A user's own setting stays; on other platforms the variable means nothing.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM")) {
        qputenv("QT_XCB_NO_MITSHM", "1");
    }
    CMeterTestApp app(argc, argv);
    app.InitInstance();
    return 0;
}

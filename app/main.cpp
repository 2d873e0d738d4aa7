#include "app/MeterTestApp.h"

int main(int argc, char** argv) {
    CMeterTestApp app(argc, argv);
    app.InitInstance();
    return 0;
}

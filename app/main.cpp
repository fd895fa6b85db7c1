#include <clocale>

#include "app/app.h"
#include "os/stop_signals.h"

int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    // Before any thread exists, so that every thread inherits the mask and
    // only the signal thread ever takes these signals.
    os::blockStopSignals();
    return runSonvar(argc, argv);
}

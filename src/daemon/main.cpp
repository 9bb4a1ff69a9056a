#include "Daemon.h"
#include "platform/ProcessHardening.h"

int main(int argc, char** argv) {
    linkmoot::disableCoreDumps();  // before anything reads the password
    return linkmoot::daemon::runDaemon(argc, argv);
}

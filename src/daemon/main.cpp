#include "Daemon.h"

int main(int argc, char** argv) {
    return linkmoot::daemon::runDaemon(argc, argv);
}

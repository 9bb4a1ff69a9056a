#pragma once
// linkmootd's main program: options, the single-instance check through the
// control socket, the application object with the daemon front end, and the
// event loop until Exit (a command, SIGTERM or SIGINT).
//
// Exit status: 0 after Exit or a completed --configure; 1 when another instance
// runs, the control socket cannot be had, or start-up or --configure ended
// without a configuration; 2 for bad options, or when the program is not
// configured and there is no terminal to configure it. --check-config exits
// with the status of checkConfiguration (CheckConfig.h).
namespace linkmoot::daemon {

int runDaemon(int argc, char** argv);

}  // namespace linkmoot::daemon

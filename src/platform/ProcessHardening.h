#pragma once
// Keeping the dial-up password (and later secrets) away from other processes.

namespace linkmoot {

/// Turns core dumps off for this process: a dump (and a debugger or another
/// process of the same user reading our memory) would show the password.
/// Call first thing in main(), before the configuration is read. Started
/// programs are not affected (exec resets it). A refusal is said on standard
/// error, since the logger is not up yet; false then.
bool disableCoreDumps();

}  // namespace linkmoot

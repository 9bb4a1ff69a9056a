#pragma once
// The process's own arguments, recorded once in main. programPath falls back to
// the first of them when the system cannot name the running program's file.

namespace toolbox {

/// Keeps a copy of argv[0]; later calls replace it. Logger::construct calls it.
void setProcessArguments(int argc, char** argv);
/// The recorded first argument; without a record the one the C library kept;
/// null when there is none.
const char* processProgramArgument();

}  // namespace toolbox

#pragma once
// linkmootd --check-config [FILE]: reads the configuration file exactly as the
// program would (FILE, or the one the program itself reads), prints the tree
// it reads on standard output, one "Section/Key = \"value\"" line each, and on
// standard error a warning for each thing that will not mean what it seems
// (see ConfigCheck.h). Secrets print only as (set) or (empty). Creates no
// folder and changes no file.
#include <cstdio>

namespace linkmoot::daemon {

/// Exit status: 0 clean, 1 with warnings, 2 when the file is missing,
/// cannot be read or does not parse. file null: the program's own file.
int checkConfiguration(const char* file, FILE* out, FILE* err);

}  // namespace linkmoot::daemon

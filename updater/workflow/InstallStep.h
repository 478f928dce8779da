// The one step of an update that runs with rights: it puts a downloaded release in place of the
// main program beside this updater, in a folder the user's own updater could not write. It
// trusts nothing it is handed but what it checks again itself: the file is held so that nobody
// can change it meanwhile, and must be the offer (signed by the vendor, in builds with a release
// key), a whole program, of the offered version and newer than the one installed. The program
// is ended only once the copy beside it has been written.
#pragma once

#include "GbkString.h"
#include "InstallCommand.h"

// releaseKey: the vendor's public key compiled in; empty in builds without one.
InstallExit RunInstallStep(const InstallRequest& request, const GbkString& releaseKey);
// The step for the program's command-line arguments (after its name), read whole first.
InstallExit RunInstallCommand(const wchar_t* arguments, const GbkString& releaseKey);

// Ends the running copies of the main program so that its file can be replaced.
#pragma once

#include <string>

// Terminates every process that runs the file `image` (a full path) under the file name
// `name`, and no other: a copy of the same program in another folder (another installation)
// goes on running.
// - name: the executable's file name, GBK, compared exactly (case counts, no folder) with
//   the process's; only such processes are looked at further.
// - image: the file about to be replaced. A process is ended when its image (as
//   QueryFullProcessImageNameW reads it) is the same file: the same volume serial number and
//   file index, so that other spellings of the path (case, short names, "\\?\", "." and "..")
//   match; where either file cannot be opened, the same full path, case-insensitively.
// A process whose image cannot be read, or that cannot be opened to be ended, is left alone.
// Every matching process is ended (two copies of the same installation: both go). It does
// not wait for them to end.
void KillProcessByName(const char* name, const std::wstring& image);

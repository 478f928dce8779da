// Ends the running copies of the main program so that its file can be replaced.
#pragma once

// Terminates every process whose executable's file name is exactly name (case counts, no
// folder). It does not wait for them to end.
void KillProcessByName(const char* name);

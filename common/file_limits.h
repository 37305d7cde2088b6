// How the programs meet a file-size limit set by the user or the system
// (ulimit -f), behind a small interface so that the core never includes a
// platform header.
#pragma once

// Makes a write past the process's file-size limit fall short, as a write to
// a full disk does, instead of ending the process on the spot: the failure is
// then reported with its exit code and an incomplete WAV file deleted. Called
// once, first thing, by both programs. Implemented once per platform.
void make_oversized_writes_fail();

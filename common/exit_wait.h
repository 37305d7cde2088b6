// The wait at exit that keeps a console window open until a key is pressed.
#pragma once

// Returns at once when the environment variable PROMPT exists, whatever its
// value (an empty one included): the program was started from a command
// prompt, whose window stays open anyway. Otherwise waits for one key.
void wait_for_key_unless_prompt();

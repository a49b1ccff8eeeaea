// Turns the bytes of one key press on a raw terminal into the key's code.
#pragma once

#include <functional>

namespace orvel {

// Gives the next byte, or -1 when none comes within timeout_ms (-1: wait for ever)
// or the input is closed.
using NextByte = std::function<int(int timeout_ms)>;

// The code of the next key press: below 256 for a key that gives a character,
// 256 plus a scan code for a function, cursor or editing key or Alt with a key.
// -1 when the input is closed.
int read_key_code(const NextByte& next);

}  // namespace orvel

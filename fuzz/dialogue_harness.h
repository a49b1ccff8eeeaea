// One whole dialogue of the program, in-process, from a fuzzer's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvel {

// The bytes, in order:
//   byte 0   bits 0-1 customer.dat, 2-3 web.dat, 4-5 friend.dat, each:
//              0 no file, 1 the bytes as they are (any size),
//              2 a whole image tiled with the bytes,
//              3 a whole zero image, the bytes at its start, then counter and step;
//            bit 6: a file chosen as absent is a directory of that name instead.
//   byte 1   bit 0: pauses take keys from the key list below;
//            bit 1: each read gives at most one line, as from a terminal.
//   for each file of kind 1 to 3: a 16-bit little-endian length, that many bytes;
//            kind 3 then four bytes of counter and four of step (little-endian).
//   if keys: a count, then that many keys (a byte of 128 or more is a two-step
//            key, 256 plus its low seven bits).
//   the rest: what the user types.
// Runs the program in the working directory from empty tables until it exits
// and checks how it ended and the files it left there: what went wrong, or
// the empty text when the run exited with status 0 and every file is sound.
std::string run_dialogue(const uint8_t* data, size_t size);

// Makes a fresh directory (on tmpfs where there is one, as saves fsync) and
// works in it for the rest of the process; it goes when the process exits.
void enter_scratch_dir();

}  // namespace orvel

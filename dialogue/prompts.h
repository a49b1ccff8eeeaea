// The prompts of every dialogue: a text, then the read that answers it.
#pragma once

#include <cstddef>
#include <span>

#include "console/console.h"
#include "records/written.h"

namespace orvel {

// A prompt and the read that answers it. A record's field read by ask_word or
// ask_line is marked written, so that a save keeps it over another session's
// change even when it holds the value it had.
void ask_word(Literal prompt, std::span<char> field);
void ask_value(Literal prompt, std::span<char> value);
void ask_line(Literal prompt, std::span<char> field);

// An update's prompt: its working value read, then copied into the record's
// field, which is marked written.
template <size_t M, size_t N>
void ask_new_value(Literal prompt, char (&value)[M], char (&field)[N]) {
  ask_value(prompt, value);
  text_copy(field, value);
  mark_written(field, N);
}
template <size_t M, size_t N>
void ask_new_line(Literal prompt, char (&value)[M], char (&field)[N]) {
  ask_line(prompt, value);
  text_copy(field, value);
  mark_written(field, N);
}

// Today's date as the adds show it: "\n Date: 6/ 12/ 2026".
void show_today();

}  // namespace orvel

// The prompts of every dialogue: a text, then the read that answers it.
#pragma once

#include <cstddef>
#include <span>

#include "console/console.h"

namespace orvel {

// A prompt and the read that answers it.
void ask_word(Literal prompt, std::span<char> field);
void ask_value(Literal prompt, std::span<char> value);
void ask_line(Literal prompt, std::span<char> field);

// An update's prompt: its working value read, then copied into the record's field.
template <size_t M, size_t N>
void ask_new_value(Literal prompt, char (&value)[M], char (&field)[N]) {
  ask_value(prompt, value);
  text_copy(field, value);
}
template <size_t M, size_t N>
void ask_new_line(Literal prompt, char (&value)[M], char (&field)[N]) {
  ask_line(prompt, value);
  text_copy(field, value);
}

// Today's date as the adds show it: "\n Date: 6/ 12/ 2026".
void show_today();

}  // namespace orvel

// The prompts of every dialogue: a text, then the read that answers it.
#include "dialogue/prompts.h"

#include "records/written.h"

namespace orvel {

void ask_word(Literal prompt, std::span<char> field) {
  con().text(prompt);
  con().word_input(field);
  mark_written(field.data(), field.size());
}

void ask_value(Literal prompt, std::span<char> value) {
  con().text(prompt);
  con().word_value(value);
}

void ask_line(Literal prompt, std::span<char> field) {
  con().text(prompt);
  con().line_input(field);
  mark_written(field.data(), field.size());
}

void show_today() {
  dosdate_t date = con().today();
  con().formatted("\n Date: %d", {date.day});
  con().formatted("/ %d", {date.month});
  con().formatted("/ %d", {static_cast<int32_t>(date.year)});
}

}  // namespace orvel

// Lines typed at a terminal read with GNU readline: the editing keys of any shell, one history.
#include "console/line_editor.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// readline's header needs stdio's FILE first.
#include <readline/history.h>
#include <readline/readline.h>

#include "console/raw_mode.h"

namespace orvel {

namespace {

constexpr int kTabStop = 8;

// The byte that ends an ESC [ sequence.
bool is_final(char c) { return c >= 0x40 && c <= 0x7e; }

std::string* g_kept = nullptr;  // the keys typed ahead, while a line is read

int kept_waiting() { return g_kept != nullptr && !g_kept->empty(); }

// readline draws nothing again after `fg` on its own. A stop comes while
// it waits for a key (the wait is interrupted: readline calls this as its
// signal hook) or while it works (it asks for its next key after).
int redraw_after_stop() {
  if (continued_after_stop()) rl_forced_update_display();
  return 0;
}

// The keys typed ahead come first, then the keyboard's.
int kept_first(FILE* in) {
  redraw_after_stop();
  if (kept_waiting()) {
    unsigned char c = static_cast<unsigned char>(g_kept->front());
    g_kept->erase(0, 1);
    // readline's own look at the keyboard (with its timing for ESC) from now on.
    if (g_kept->empty()) rl_input_available_hook = nullptr;
    return c;
  }
  return rl_getc(in);
}

// The terminal stays without echo from one line to the next (keys typed
// meanwhile would be shown by it and then again by readline); readline takes
// that mode as the one to give back, and is told that it shows what is typed.
// Turning echo on just before each line would leave a moment where the
// terminal echoes a key readline then shows a second time.
void prepare_terminal(int meta) {
  rl_prep_terminal(meta);
  rl_tty_set_echoing(1);
}

// Tab is a character; nothing is ever completed.
char* no_completion(const char*, int) { return nullptr; }
char** no_completions(const char*, int, int) {
  rl_attempted_completion_over = 1;
  return nullptr;
}

// The screen's line as the terminal shows it: the prompt the editor is given
// and the column the cursor stands at after it.
struct Measured {
  std::string prompt;
  size_t column = 0;
};

Measured measure(std::string_view shown) {
  Measured m;
  for (size_t i = 0; i < shown.size(); ++i) {
    char c = shown[i];
    if (c == '\t') {
      size_t next = (m.column / kTabStop + 1) * kTabStop;
      m.prompt.append(next - m.column, ' ');
      m.column = next;
    } else if (c == '\x1b') {
      // ESC [ parameters and one final byte: between readline's markers of
      // what takes no room on the screen.
      size_t end = i + 1;
      if (end < shown.size() && shown[end] == '[') {
        ++end;
        while (end < shown.size() && !is_final(shown[end])) ++end;
      }
      end = end < shown.size() ? end + 1 : shown.size();
      m.prompt += RL_PROMPT_START_IGNORE;
      m.prompt.append(shown.substr(i, end - i));
      m.prompt += RL_PROMPT_END_IGNORE;
      i = end - 1;
    } else {
      m.prompt += c;
      if (c == '\n' || c == '\r') {
        m.column = 0;
      } else if ((static_cast<unsigned char>(c) & 0xc0) != 0x80) {
        ++m.column;  // a UTF-8 character takes one column, counted at its first byte
      }
    }
  }
  return m;
}

}  // namespace

bool can_edit_lines(const char* term) {
  return term != nullptr && *term != '\0' && strcmp(term, "dumb") != 0;
}

std::string prompt_for(std::string_view shown) { return measure(shown).prompt; }

size_t screen_column(std::string_view shown) { return measure(shown).column; }

LineEditor::LineEditor() {
  // UTF-8 whatever the user's locale, and only for the characters: readline
  // takes LC_CTYPE from the environment again each time it starts a line, so
  // the environment says it too. Casing and the other categories stay "C".
  setenv("LC_ALL", "C.UTF-8", 1);
  setlocale(LC_CTYPE, "C.UTF-8");
  rl_catch_signals = 1;   // the terminal given back at Ctrl-C, Ctrl-Z and the like
  rl_catch_sigwinch = 1;  // a resize during a line redraws it
  rl_change_environment = 0;
  rl_prep_term_function = prepare_terminal;
  rl_getc_function = kept_first;
  rl_signal_event_hook = redraw_after_stop;
  rl_completion_entry_function = no_completion;
  rl_attempted_completion_function = no_completions;
  rl_initialize();  // reads ~/.inputrc; what follows overrides it where it must
  rl_bind_key('\t', rl_insert);
  // A paste is typed keys: each line of it a line.
  rl_variable_bind("enable-bracketed-paste", "off");
  rl_variable_bind("bell-style", "none");
  // The keyboard's meta mode is the terminal's own business.
  rl_variable_bind("enable-meta-key", "off");
  // Home, End and Delete as the terminals send them; not every inputrc binds them.
  for (const char* home : {"\\e[1~", "\\e[7~", "\\e[H", "\\eOH"})
    rl_bind_keyseq(home, rl_beg_of_line);
  for (const char* end : {"\\e[4~", "\\e[8~", "\\e[F", "\\eOF"})
    rl_bind_keyseq(end, rl_end_of_line);
  rl_bind_keyseq("\\e[3~", rl_delete);
  // The history holds customers' data: in memory only, never in a file.
  using_history();
}

bool LineEditor::draws_lines() const { return rl_get_termcap("up") != nullptr; }

std::optional<std::string> LineEditor::read_line(std::string_view shown, std::string& kept) {
  g_kept = &kept;
  rl_input_available_hook = kept_waiting() ? kept_waiting : nullptr;
  continued_after_stop();  // a stop before this line is no reason to draw it again
  // readline follows resizes only while it reads: one between two lines would go unseen.
  rl_reset_screen_size();
  std::string prompt = prompt_for(shown);
  rl_already_prompted = 1;  // the program printed it
  char* line = readline(prompt.c_str());
  g_kept = nullptr;
  rl_input_available_hook = nullptr;
  if (line == nullptr) return std::nullopt;
  std::string text(line);
  free(line);
  if (!text.empty()) add_history(text.c_str());
  return text;
}

}  // namespace orvel

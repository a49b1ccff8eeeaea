// Web pages: add, find by web number or e-mail, list, update (the cost included).
// Every text is the system's own, byte for byte, as users have always seen it:
// "Takawey", "Descrp." beside "Descrip." and "Found" beside "Fount" included.
#include "web/webs.h"

#include "console/console.h"
#include "dialogue/menu.h"
#include "dialogue/prompts.h"
#include "dialogue/table_dialogue.h"
#include "records/written.h"

namespace orvel {

namespace {

// The web-number search's own text; every other search and update says
// "Fount" (kNotFount), as the system always has.
constexpr Literal kNotFound = "\n**File Not Found**\n";

void show_listed(const Web& r) {
  con().text({"\n_____________________________________________________________________",
              "\n Web No: ", field(r.web_no), "\t E-mail: ", field(r.email),
              "\n Page Title: ", field(r.web_name), "\n Url: Http://", field(r.url),
              "\n Start: ", field(r.s_date), "\t Due: ", field(r.a_date), "\n Cost (in pound): "});
  con().number(r.cost);
  con().text({"\t Paid (Y=Yes/N=No): ", field(r.paid), "\n Descrip. & Com.: \n", field(r.com)});
}

}  // namespace

void Webs::save_web() { save_table(g, weblist); }

void Webs::load_web() { load_table(g, weblist); }

void Webs::add_web() {
  std::optional<int> slot = add_slot(weblist);
  if (!slot) return;
  Web& r = weblist[*slot];
  con().text("\n\n\tPLEASE ENTER WEB\n");
  int32_t number = advance_counter(weblist);
  con().text("\n  Enter: ");
  con().integer(number);
  ask_word("\n WEB NO: ", r.web_no);
  ask_word("\n E-MAIL ADDRESS: ", r.email);
  ask_line("\n PAGE TITLE: ", r.web_name);
  ask_line("\n URL ADDRESS: ", r.url);
  show_today();
  ask_word("\n START DATE: ", r.s_date);
  ask_word("\n DUE DATE: ", r.a_date);
  con().text("\n COST (in pound): ");
  float cost = r.cost;  // the field is packed: read the number beside it
  con().number_input(cost);
  r.cost = cost;
  mark_written(&r.cost, sizeof r.cost);
  ask_word("\n PAID (Y/N): ", r.paid);
  ask_line("\n PAGE DESCRIPTION & COMMENTS: ", r.com);
  save_web();
}

int Webs::display_web(int w) {
  const Web& r = weblist[w];
  con().text({"\n Web No: ", field(r.web_no), "\n E-mail: ", field(r.email),
              "\n Page Title: ", field(r.web_name), "\n Url: Http://", field(r.url),
              "\n Start: ", field(r.s_date), "\n Due: ", field(r.a_date), "\n Cost (in pound): "});
  con().number(r.cost);
  con().text({"\n Paid (Y=Yes/N=No): ", field(r.paid), "\n\n Descrp. & Com.: \n", field(r.com)});
  return w;
}

void Webs::find_web() {
  char w_no[5] = {};
  char e_mail[30] = {};
  auto show = [this](int slot) { display_web(slot); };
  run_framed_menu(
      "\n\t\t    FIND WEB RECORD ",
      {"\n\t\t 1. Search by WEB ID", "\n\t\t 2. Search by E-MAIL", "\n\t\t 3. Return WEB Menu"}, {},
      {{'1',
        [&] {
          ask_value("\n Enter WEB NO: ", w_no);
          search(
              weblist, [&](const Web& r) { return text_equal(r.web_no, w_no); }, show, kNotFound);
        }},
       {'2',
        [&] {
          ask_value("\n\n Enter E-MAIL: ", e_mail);
          search(
              weblist, [&](const Web& r) { return text_equal(r.email, e_mail); }, show, kNotFount);
        }},
       {'3', {}, true}});
}

void Webs::display_all_web() { list_all(weblist, show_listed); }

void Webs::update_web() {
  char w_no[4] = {};
  char new_email[30] = {}, new_pname[25] = {}, new_url[40] = {}, u_paid[2] = {};
  float add = 0, takawey = 0;
  ask_value("\n Enter WEB No: ", w_no);
  auto matches = [&](const Web& r) { return text_equal(r.web_no, w_no); };
  // An option: every matching record changed in turn, the table saved after each.
  auto change_each = [&](std::function<void(Web&)> change) {
    return change_every_holder<Web>(weblist, matches, std::move(change), [this] { save_web(); });
  };
  run_framed_menu(
      "\n\t\t     UPDATE WEB ",
      {"\n\t\t 1. E-Mail", "\n\t\t 2. Page Name", "\n\t\t 3. URL Address", "\n\t\t 4. Add Cost",
       "\n\t\t 5. Takawey Cost", "\n\t\t 6. Paid", "\n\t\t 7. Return Web Menu"},
      {},
      {{'1',
        change_each([&](Web& r) { ask_new_value("\n Enter New E-MAIL: ", new_email, r.email); })},
       {'2', change_each([&](Web& r) {
          ask_new_line("\n Enter New PAGE TITLE: ", new_pname, r.web_name);
        })},
       {'3', change_each([&](Web& r) { ask_new_value("\n Enter New URL: ", new_url, r.url); })},
       {'4', change_each([&](Web& r) {
          con().text("\n Enter ADD To COST ");
          con().number_input(add);
          r.cost = r.cost + add;
          mark_written(&r.cost, sizeof r.cost);
        })},
       {'5', change_each([&](Web& r) {
          con().text("\n Enter To TAKAWEY From COST ");
          con().number_input(takawey);
          r.cost = r.cost - takawey;
          mark_written(&r.cost, sizeof r.cost);
        })},
       {'6', change_each([&](Web& r) {
          ask_new_value("\n Enter To Update PAID (Y/N): ", u_paid, r.paid);
        })},
       {'7', {}, true}});
}

}  // namespace orvel

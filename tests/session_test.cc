// Whole sessions of the real program through a pipe, with no controlling terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Outcome {
  std::string output;
  int status = -1;
};

// Feeds `input` to orvel in `dir` and collects everything it prints.
Outcome run_orvel(const fs::path& dir, const std::string& input) {
  int in[2], out[2];
  EXPECT_EQ(pipe(in), 0);
  EXPECT_EQ(pipe(out), 0);
  pid_t pid = fork();
  if (pid == 0) {
    setsid();
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[1]);
    close(out[0]);
    if (chdir(dir.c_str()) != 0) _exit(127);
    alarm(20);  // no test may hang
    execl(ORVEL_BIN, "orvel", nullptr);
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  signal(SIGPIPE, SIG_IGN);
  EXPECT_EQ(write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  close(in[1]);
  Outcome run;
  char buf[65536];
  ssize_t n;
  while ((n = read(out[0], buf, sizeof buf)) > 0) run.output.append(buf, n);
  close(out[0]);
  waitpid(pid, &run.status, 0);
  return run;
}

std::string slurp(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct TempDir {
  fs::path path;
  TempDir() {
    char name[] = "/tmp/orvel-session-XXXXXX";
    path = mkdtemp(name);
  }
  ~TempDir() { fs::remove_all(path); }
};

// The program's screens, as the user sees them.
const std::string kMainMenu =
    "\n\t\t --------------------------\n\t\t   Orvel Database\n\t\t      MAIN MENU"
    "\n\t\t Design by: www.orvel.example\n\t\t --------------------------"
    "\n\t\t 1. Customer Menu\n\t\t 2. Web Menu\n\t\t 3. Rehber\n\t\t 4. Exit"
    "\n\t\t-----------------------------\n\t\t Enter number: ";
const std::string kQuit =
    "\n\t\t Do you rely want to quit?\n\t\t....................................."
    "\n\t\t 1. Yes \n\t\t 2. No \n\t\t Enter number: ";
const std::string kBye = "\n\t\tBye...";

std::string sub_menu(const std::string& title, const std::string& options) {
  return "\n\t\t --------------------------" + title + "\n\t\t --------------------------" +
         options +
         "\n\t\t 5. MAIN MENU\n\t\t-----------------------------------\n\t\t Enter number: ";
}
const std::string kCustomerMenu =
    sub_menu("\n\t\t       CUSTOMER MENU  ",
             "\n\t\t 1. ADD Customer \n\t\t 2. FIND Customer\n\t\t 3. DISPLAY Customers"
             "\n\t\t 4. UPDATE Customer ");
const std::string kWebMenu = sub_menu("\n\t\t        WEB MENU  ",
                                      "\n\t\t 1. ADD Web\n\t\t 2. FIND Web\n\t\t 3. DISPLAY Webs"
                                      "\n\t\t 4. UPDATE Web");
const std::string kRehberMenu =
    sub_menu("\n\t\t        REHBER MENU  ",
             "\n\t\t 1. ADD Friend\n\t\t 2. FIND Friend\n\t\t 3. DISPLAY Friends"
             "\n\t\t 4. UPDATE Frient Details");
const std::string kFindCustomer =
    "\n\n\t\t--------------------------\n\t\t   FIND CUSTOMER RECORD "
    "\n\t\t--------------------------\n\t\t 1. Search by CUSTOMER ID\n\t\t 2. Search by POST CODE"
    "\n\t\t 3. Return CUSTOMER Menu\n\t\t--------------------------\n\n\t\t Enter Number:";
const std::string kUpdateWeb =
    "\n\n\t\t--------------------------\n\t\t     UPDATE WEB \n\t\t--------------------------"
    "\n\t\t 1. E-Mail\n\t\t 2. Page Name\n\t\t 3. URL Address\n\t\t 4. Add Cost"
    "\n\t\t 5. Takawey Cost\n\t\t 6. Paid\n\t\t 7. Return Web Menu"
    "\n\t\t--------------------------\n\n\t\t Enter Number:";
const std::string kUpdateFriend =
    "\n\n\t\t--------------------------\n\t\t     UPDATE FRIEND "
    "\n\t\t--------------------------\n\t\t 1. Address\n\t\t 2. Email  \n\t\t 3. Url"
    "\n\t\t 4. Thelepone Number\n\t\t 5. Mobile Number\n\t\t 6. FRIENDS Menu"
    "\n\t\t--------------------------\n\n\t\t Enter Number:";
const std::string kNotFount = "\n**File Not Fount**\n";

std::string today() {
  time_t now = time(nullptr);
  tm t{};
  localtime_r(&now, &t);
  return "\n Date: " + std::to_string(t.tm_mday) + "/ " + std::to_string(t.tm_mon + 1) + "/ " +
         std::to_string(t.tm_year + 1900);
}

std::string add_customer_dialogue(int number) {
  return "\n\n\tPLEASE ENTER CUSTOMER\n\n SURNAME: \n FIRST NAME(S): \n TITLE (MR/MISS/MS): "
         "\n ID No: " +
         std::to_string(number) +
         "\n IDENTIDY NO: \n    ADDRESS \n STREET: \n TOWN: \n CITY: \n POST CODE: "
         "\n DATE OF BIRTH: \n TELEPHON NUMBER: " +
         today() + "\n TODAY DATE: ";
}

std::string customer_shown(const std::string& no, const std::string& name,
                           const std::string& address, const std::string& tel) {
  return "\n Cust No : " + no + "\n Customer: " + name + "\n Address : " + address +
         ".\n Date of Bith: 1/1/80\n Tel No  : " + tel + "\n Reg Date: 7/12/26";
}

TEST(Session, MainMenuInvalidChoicesAndTheQuitConfirmation) {
  TempDir dir;
  Outcome run = run_orvel(dir.path, "9\n4\n3\n2\n4\n1\n");
  EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0);
  EXPECT_EQ(run.output, kMainMenu + kMainMenu + kQuit + kQuit + kMainMenu + kQuit + kBye);
  EXPECT_TRUE(fs::is_empty(dir.path));  // quitting saves nothing
}

TEST(Session, EndOfInputEndsWithStatusZeroAnywhere) {
  for (const char* input : {"", "4\n", "1\n", "1\n2\n", "1\n1\nSmith", "2\n4\n7"}) {
    TempDir dir;
    Outcome run = run_orvel(dir.path, input);
    EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << input;
  }
}

TEST(Session, CustomerAddFindAndSilentExit) {
  TempDir dir;
  std::string add =
      "Smith\nJohn Paul\nMR\n12\n1 High St\nOldtown\nLondon\nAB1 2C\n1/1/80\n0123\n7/12/26\n";
  Outcome run =
      run_orvel(dir.path, "12\n2\nAB1 2C\n3\n1\n" + add + "2\n1\n12\n2\nab1 2c\n3\n6\n4\n1\n");
  std::string shown =
      customer_shown("12", "MR John Paul Smith", "1 High St, Oldtown, London, AB1 2C", "0123");
  EXPECT_EQ(run.output, kMainMenu + kCustomerMenu + kFindCustomer + "\n\n Enter post code: " +
                            kNotFount + kFindCustomer + kCustomerMenu + add_customer_dialogue(1) +
                            kCustomerMenu + kFindCustomer + "\n Enter CUSTOMER ID: " + shown +
                            "\n" + kFindCustomer + "\n\n Enter post code: " + kNotFount +
                            kFindCustomer + kCustomerMenu + kMainMenu + kQuit + kBye);
  std::string file = slurp(dir.path / "customer.dat");
  ASSERT_EQ(file.size(), 90000u);
  EXPECT_EQ(file.substr(499 * 180 + 35, 3), std::string("12\0", 3));  // cust_no of slot 499
  EXPECT_EQ(file[180 + 172], 1);  // the add counter in slot 1's total
}

TEST(Session, WebCostsAndFriendUpdateOnDisk) {
  TempDir dir;
  std::string web = "7\na@b.c\nMy Page\nwww.x.com/a b\n1/1\n2/2\n150\nN\nnice\n";
  std::string input = "2\n1\n" + web + "4\n7\n4\n25\n5\n200\n7\n5\n" +  // web: cost 150, +25, -200
                      "3\n4\n9\n6\n5\n4\n1\n";  // friend update of a number nobody has, at once
  Outcome run = run_orvel(dir.path, input);
  EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0);
  std::string webs = slurp(dir.path / "web.dat");
  ASSERT_EQ(webs.size(), 108500u);
  float cost;
  memcpy(&cost, webs.data() + 499 * 217 + 205, 4);
  EXPECT_EQ(cost, -25.0f);  // 150 + 25 - 200
  EXPECT_EQ(webs.substr(499 * 217 + 33, 14), std::string("www.x.com/a b\0", 14));
  EXPECT_EQ(slurp(dir.path / "friend.dat").size(), 129500u);  // saved at the start of the pass
  std::string web_added =
      "\n\n\tPLEASE ENTER WEB\n\n  Enter: 1\n WEB NO: \n E-MAIL ADDRESS: \n PAGE TITLE: "
      "\n URL ADDRESS: " +
      today() +
      "\n START DATE: \n DUE DATE: \n COST (in pound): \n PAID (Y/N): "
      "\n PAGE DESCRIPTION & COMMENTS: ";
  EXPECT_EQ(run.output,
            kMainMenu + kWebMenu + web_added + kWebMenu + "\n Enter WEB No: " + kUpdateWeb +
                "\n Enter ADD To COST \n" + kUpdateWeb + "\n Enter To TAKAWEY From COST \n" +
                kUpdateWeb + kWebMenu + kMainMenu + kRehberMenu +
                "\n Enter FRIEND ID: " + kUpdateFriend + kRehberMenu + kMainMenu + kQuit + kBye);
}

TEST(Session, AFailedSaveSaysSoAndKeepsNothingBehind) {
  TempDir dir;
  fs::create_directory(dir.path / "customer.dat");  // a directory of the file's name
  Outcome run = run_orvel(dir.path, "1\n5\n4\n1\n");
  EXPECT_EQ(run.output,
            kMainMenu + kCustomerMenu + "\n**File Not Saved**\n" + kMainMenu + kQuit + kBye);
  EXPECT_TRUE(fs::is_directory(dir.path / "customer.dat"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
}

}  // namespace

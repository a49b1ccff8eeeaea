// The command line, export and check through the built program: exit status, streams, files.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <optional>

#include "records/data_file.h"
#include "tests/process.h"

namespace orvel {
namespace {

using testkit::Image;
using testkit::RunResult;
using testkit::TempDir;

// orvel with these arguments in `dir`, its standard error kept apart.
RunResult orvel(const TempDir& dir, std::vector<std::string> args, std::string_view input = "") {
  testkit::RunOptions options;
  options.args = std::move(args);
  options.capture_errors = true;
  return testkit::run_orvel(dir.path(), input, options);
}

// A record with these texts in its text fields, in order, the rest NUL; a text
// as long as its field fills it with no NUL.
template <class Rec>
Rec record(std::initializer_list<std::string_view> texts, float cost = 0) {
  Rec r{};
  auto text = texts.begin();
  for (const RecordField& f : fields_of<Rec>()) {
    char* at = reinterpret_cast<char*>(&r) + f.offset;
    if (f.kind == FieldKind::kCost) memcpy(at, &cost, sizeof cost);
    if (f.kind != FieldKind::kText || text == texts.end()) continue;
    memcpy(at, text->data(), std::min(text->size(), f.width));
    ++text;
  }
  return r;
}

// What parsers this project did not write make of an export: tests/read_back.py's lines.
std::string read_back(const TempDir& dir, const std::string& format, const std::string& output) {
  dir.write("export.out", output);
  const std::string command =
      ORVEL_PYTHON " " ORVEL_READ_BACK " " + format + " < " + dir.file("export.out");
  FILE* reader = popen(command.c_str(), "r");
  std::string read;
  for (int c; reader && (c = fgetc(reader)) != EOF;) read += static_cast<char>(c);
  EXPECT_TRUE(reader && pclose(reader) == 0) << "the reader refused the " << format << " export";
  return read;
}

// Everything in the folder, as paths relative to it.
std::vector<std::string> tree(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path()))
    names.push_back(std::filesystem::relative(e.path(), dir.path()));
  std::sort(names.begin(), names.end());
  return names;
}

const std::string kWebs =
    Image<Web>::holding(
        {{0, record<Web>({"", "", "hidden"})},  // an empty slot: DISPLAY skips it
         {3, record<Web>({"7", "", "Kahve, \"Çay\"; Şeker", "www.örnek.com", "", "", "", "Y",
                          "tab\tstored"},
                         std::numeric_limits<float>::denorm_min())},
         {10, record<Web>({"8", "", "\xff\xfe bad", "", "", "xxxxxxxxxxxxxxx"}, -0.0f)},
         {200, record<Web>({"10"}, -std::numeric_limits<float>::infinity())},
         {499, record<Web>({"9"}, 1e38f)}})
        .bytes();

TEST(Export, EachFormatReadsBackWithAnotherParser) {
  const Friend ayse =
      record<Friend>({"1", "Ayşe Nur", "Yılmaz;Öz", "ayse@örnek.tr", "www.örnek.com/a b,c",
                      "Bağdat Cd. No:5/12, Daire;3", "Kadıköy Çiftehavuzlar",
                      "Kahramanmaraş",  // its ş straddles the fold
                      "34710", "1/2/1980", "0216-555", "0532-444"});
  const Customer john = record<Customer>(
      {"John", "Smith", "12", "MR", "1 High St", "", "London", "", "12/5/1970", "020-7946"});
  const struct {
    const char* kind;
    const char* format;
    const char* file;
    std::string bytes;
    std::string read;
  } cases[] = {
      {"web", "csv", "web.dat", kWebs,
       "web_no|cust_no|web_name|url|email|s_date|a_date|paid|com|cost\n"
       "7||Kahve, \"Çay\"\\x3b Şeker|www.örnek.com||||Y|tab\tstored|1e-45\n"
       "8||\xff\xfe bad|||xxxxxxxxxxxxxxx||||-0\n"
       "10|||||||||-inf\n"
       "9|||||||||1e+38\n"},
      {"web", "json", "web.dat", kWebs,
       "web_no=7|cust_no=|web_name=Kahve, \"Çay\"\\x3b Şeker|url=www.örnek.com|email=|s_date=|"
       "a_date=|paid=Y|com=tab\tstored|cost=#1e-45\n"
       "web_no=8|cust_no=|web_name=\uFFFD\uFFFD bad|url=|email=|s_date=xxxxxxxxxxxxxxx|a_date=|"
       "paid=|com=|cost=#-0\n"
       "web_no=10|cust_no=|web_name=|url=|email=|s_date=|a_date=|paid=|com=|cost=-inf\n"
       "web_no=9|cust_no=|web_name=|url=|email=|s_date=|a_date=|paid=|com=|cost=#1e+38\n"},
      {"friends", "vcard", "friend.dat",
       Image<Friend>::holding({{496, record<Friend>({"3"})},
                               {497, record<Friend>({"2", "Can\xff", "ZZZZZZZZZZZZZZZ"})},
                               {499, ayse}})
           .bytes(),
       "version=4.0|fn=3|n=;;;;\n"
       "version=4.0|fn=Can\uFFFD ZZZZZZZZZZZZZZZ|n=ZZZZZZZZZZZZZZZ;Can\uFFFD;;;\n"
       "version=4.0|fn=Ayşe Nur Yılmaz\\x3bÖz|n=Yılmaz\\x3bÖz;Ayşe Nur;;;|"
       "adr=;;Bağdat Cd. No:5/12, Daire\\x3b3;Kadıköy Çiftehavuzlar;Kahramanmaraş;34710;|"
       "tel.voice=0216-555|tel.cell=0532-444|email=ayse@örnek.tr|"
       "url=www.%C3%B6rnek.com/a%20b%2Cc|bday=1/2/1980\n"},
      {"customer", "vcard", "customer.dat", Image<Customer>::added({john}).bytes(),
       "version=4.0|fn=John Smith|n=Smith;John;;MR;|adr=;;1 High St;;London;;|"
       "tel.voice=020-7946|bday=12/5/1970\n"},
      {"customers", "csv", nullptr, "",  // no file: an empty table
       "fname|surname|cust_no|cust_title|street|town|city|p_code|dob|tel_no|r_date\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.kind) + " " + c.format);
    TempDir dir;
    if (c.file) dir.write(c.file, c.bytes);
    RunResult r = orvel(dir, {"export", c.kind, "--format", c.format});
    EXPECT_TRUE(r.exited_with(0));
    EXPECT_EQ(r.errors, "");
    EXPECT_EQ(read_back(dir, c.format, r.output), c.read);
  }
}

// A second name for the file makes every save write in place, a record at a
// time: only the lock keeps an export from reading half of one.
TEST(Export, DuringAnotherSessionsSavesShowsOneWholeTable) {
  TempDir dir;
  std::string images[2], exports[2];
  for (int i = 0; i < 2; ++i) {
    Image<Web> image;
    for (int slot = 0; slot < kSlots; ++slot) image[slot] = record<Web>({std::to_string(i)});
    images[i] = image.bytes();
    dir.write("web.dat", images[i]);
    exports[i] = orvel(dir, {"export", "web"}).output;
  }
  ASSERT_NE(exports[0], exports[1]);
  ASSERT_EQ(link(dir.file("web.dat").c_str(), dir.file("web.link").c_str()), 0);
  pid_t saver = fork();
  ASSERT_GE(saver, 0);
  if (saver == 0) {
    if (chdir(dir.path().c_str()) != 0) _exit(1);
    DataFile file("web.dat", sizeof(Web) * kSlots);
    for (size_t n = 0;; ++n) {
      file.save([&](const Found&) {
        return SavePlan{SavePlan::kWrite, std::as_bytes(std::span(images[n % 2]))};
      });
    }
  }
  for (int run = 0; run < 20; ++run) {
    RunResult r = orvel(dir, {"export", "web"});
    EXPECT_TRUE(r.exited_with(0));
    EXPECT_TRUE(r.output == exports[0] || r.output == exports[1]) << "run " << run;
  }
  kill(saver, SIGKILL);
  waitpid(saver, nullptr, 0);
}

// Each row a customer.dat; the other two files are missing, which is sound.
TEST(Check, NamesEachFaultAndChangesNothing) {
  const Image<Customer> two =
      Image<Customer>::added({record<Customer>({"", "", "1"}), record<Customer>({"", "", "2"})});
  const Image<Customer> open = Image<Customer>::added(
      {record<Customer>({"AAAAAAAAAAAAAAAAAAAA", "", "1"}), record<Customer>({"", "", "2"})});
  Image<Customer> stepped = two;
  stepped[2].num = 4;
  const struct {
    const char* name;
    std::optional<std::string> file;
    int status;
    std::string line;
  } cases[] = {
      {"no files", std::nullopt, 0, "customer.dat: missing (an empty table)\n"},
      {"sound", two.bytes(), 0, "customer.dat: sound (2 records, add counter 2)\n"},
      {"short", two.bytes().substr(0, 400), 1,
       "  short: 400 of 90,000 bytes; from slot 2 on it reads as zero bytes\n"},
      {"long", two.bytes() + "0123456789", 1,
       "  long: 90,010 bytes, 10 past the table's 90,000, which nothing reads\n"},
      {"counter below 0", Image<Customer>(two).counter(-3).bytes(), 1,
       "  the add counter is -3, below 0: adds do nothing\n"},
      {"counter past the table", Image<Customer>(two).counter(501).bytes(), 1,
       "  the add counter is 501, past the table's 500 slots\n"},
      {"hole below the counter", Image<Customer>(two).counter(3).bytes(), 1,
       "  empty slots below the add counter: slot 497\n"},
      {"record past the counter", Image<Customer>(two).counter(1).bytes(), 1,
       "  records past the add counter, where adds write: slot 498\n"},
      {"counter step", stepped.bytes(), 1,
       "  the counter step is 5 (num in slot 2 is 4), which the program never sets\n"},
      {"field without a NUL", open.bytes(), 1,
       "  fields without a NUL, read to their full width: slot 499 (fname)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    if (c.file) dir.write("customer.dat", *c.file);
    RunResult r = orvel(dir, {"check"});
    EXPECT_TRUE(r.exited_with(c.status));
    EXPECT_NE(r.output.find(c.line), std::string::npos) << r.output;
    EXPECT_TRUE(r.output.ends_with(c.status == 0 ? "\nall sound\n" : "\n1 file not sound\n"));
    EXPECT_EQ(dir.names(),
              c.file ? std::vector<std::string>{"customer.dat"} : std::vector<std::string>{});
    EXPECT_EQ(dir.read("customer.dat"), c.file.value_or(""));
  }
}

// Where each answer goes; an error is one line on standard error naming what
// is wrong. Whatever the arguments, no file is made or changed.
TEST(CommandLine, StatusStreamsAndNothingWritten) {
  const std::string webs = Image<Web>::added({record<Web>({"w1"}, 5)}).bytes();
  const struct {
    std::vector<std::string> args;
    const char* out;  // what standard output holds; nullptr: nothing
    const char* err;  // what standard error's one line holds; nullptr: nothing
    int status;
  } cases[] = {
      {{"--help"}, "Usage: orvel", nullptr, 0},
      {{"-h", "--bogus"}, "Usage: orvel", nullptr, 0},
      {{"--version"}, "1.0.0\nLicense GPL-3.0-or-later", nullptr, 0},
      {{"--bogus", "--help"}, nullptr, "unknown option '--bogus'; see orvel --help\n", 2},
      {{"export", "-x", "web"}, nullptr, "unknown option '-x'; see orvel --help\n", 2},
      {{"frobnicate"}, nullptr, "unknown command 'frobnicate'; see", 2},
      {{"export"}, nullptr, "export needs a kind", 2},
      {{"export", "pages"}, nullptr, "unknown kind 'pages'", 2},
      {{"export", "web", "--format=vcard"}, nullptr, "web pages have no vCard", 2},
      {{"export", "web", "--format", "xml"}, nullptr, "unknown format 'xml'", 2},
      {{"export", "web", "now"}, nullptr, "unexpected argument 'now'", 2},
      {{"--format=csv"}, nullptr, "--format is for export only", 2},
      {{"-C"}, nullptr, "option '-C' needs an argument", 2},
      {{"--directory=nowhere", "export", "web"},
       nullptr,
       "cannot work in nowhere: No such file",
       2},
      {{"export", "web", "--format", "csv", "-C", "sub"}, "\r\nw1,,,,,,,,,5\r\n", nullptr, 0},
      {{"-C", "sub", "check"}, "\nfriend.dat: cannot be read: ", nullptr, 1},
      {{"-C", "sub", "export", "friends"}, nullptr, "orvel: friend.dat: ", 1},
      {{"-Csub"}, "w1", nullptr, 0},  // the dialogue, shown the web pages
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.file("sub/friend.dat").c_str(), 0755), 0);  // a file that cannot be read
    dir.write("sub/web.dat", webs);
    RunResult r = orvel(dir, c.args, "2\n3\n");
    EXPECT_TRUE(r.exited_with(c.status)) << r.exit_status;
    EXPECT_NE(r.output.find(c.out ? c.out : ""), std::string::npos) << r.output;
    EXPECT_EQ(r.output.empty(), !c.out);
    EXPECT_NE(r.errors.find(c.err ? c.err : ""), std::string::npos) << r.errors;
    EXPECT_EQ(r.errors.empty(), !c.err);
    EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), c.err ? 1 : 0);
    EXPECT_EQ(tree(dir), (std::vector<std::string>{"sub", "sub/friend.dat", "sub/web.dat"}));
    EXPECT_EQ(dir.read("sub/web.dat"), webs);
  }
}

}  // namespace
}  // namespace orvel

// The command line, export and check through the built program: exit status, streams, files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>

#include "records/undo.h"
#include "tests/process.h"

namespace orvel {
namespace {

using testkit::Image;
using testkit::TempDir;

// orvel with these arguments in `dir`, its standard error kept apart.
testkit::RunResult orvel(const TempDir& dir, std::vector<std::string> args,
                         std::string_view input = "") {
  return testkit::run_orvel(dir.path(), input,
                            {.args = std::move(args), .capture_errors = true, .before_exec = {}});
}

// A record with these texts in its text fields, in order (one as long as its field: no NUL).
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

// Every file and folder in `dir`, by its path there, with what each file holds.
std::map<std::string, std::string> snapshot(const TempDir& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path())) {
    const std::string name = std::filesystem::relative(e.path(), dir.path());
    files[name] = dir.read(name);
  }
  return files;
}

TEST(Export, EachFormatReadsBackWithAnotherParser) {
  using Float = std::numeric_limits<float>;
  // A cut €, an overlong /, a surrogate, a code past U+10FFFF, then U+1F600.
  const std::string bad = "\xE2\x82!\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80\xF0\x9F\x98\x80";
  const std::string webs =
      Image<Web>::holding({{0, record<Web>({"", "", "hidden"})},  // an empty slot: DISPLAY skips it
                           {3, record<Web>({"7", "", "Kahve, \"Çay\"; Şeker", "www.örnek.com",
                                            "a,b", "1\r2", "", "Y", "x\\y\ttab\x1b\r\nend"},
                                           Float::denorm_min())},
                           {10, record<Web>({"8", "", bad, "", "", "xxxxxxxxxxxxxxx"}, -0.0f)},
                           {200, record<Web>({"10"}, -Float::infinity())},
                           {499, record<Web>({"9"}, Float::max())}})
          .bytes();
  // The web pages as both readers give them: `name` for `bad`, `num` before a number.
  auto web_rows = [](const std::string& name, const std::string& num) {
    return "web_no|cust_no|web_name|url|email|s_date|a_date|paid|com|cost\n"
           "7||Kahve, \"Çay\"\\x3b "
           "Şeker|www.örnek.com|a,b|1\\x0d2||Y|x\\x5cy\ttab\x1b\\x0d\\x0aend|" +
           num + "1e-45\n8||" + name + "|||xxxxxxxxxxxxxxx||||" + num +
           "-0\n10|||||||||-inf\n9|||||||||" + num + "3.4028235e+38\n";
  };
  std::string url, url_read;  // 50 bytes with no NUL, three lines once encoded
  for (int i = 0; i < 25; ++i) url += "ş", url_read += "%C5%9F";
  const struct {
    const char* kind;  // its data file is KIND.dat
    const char* format;
    std::string bytes;
    std::string read;
  } cases[] = {
      {"web", "csv", webs, web_rows(bad, "")},
      {"web", "json", webs,
       web_rows("\uFFFD!\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\U0001F600", "#")},
      {"friend", "vcard",
       Image<Friend>::holding(
           {{496, record<Friend>({"3"})},
            {497, record<Friend>({"1", "Ayşe Nur", "Yılmaz;Öz", "ayse@örnek.tr",
                                  "www.örnek.com/a b,c", "Bağdat Cd. No:5/12, Daire;3",
                                  "Kadıköy Çiftehavuzlar", "Kahramanmaraş",  // ş at the fold
                                  "34710", "1/2/1980", "0216-555", "0532-444"})},
            {499, record<Friend>({"2", "Can\xff", "Ak", "", url, "a\\nb\r\nc\x1b\x7f\td"})}})
           .bytes(),
       "version=4.0|fn=3|n=;;;;\n"
       "version=4.0|fn=Ayşe Nur Yılmaz\\x3bÖz|n=Yılmaz\\x3bÖz;Ayşe Nur;;;|"
       "adr=;;Bağdat Cd. No:5/12, Daire\\x3b3;Kadıköy Çiftehavuzlar;Kahramanmaraş;34710;|"
       "tel.voice=0216-555|tel.cell=0532-444|email=ayse@örnek.tr|"
       "url=www.%C3%B6rnek.com/a%20b%2Cc|bday=1/2/1980\n"
       "version=4.0|fn=Can\uFFFD Ak|n=Ak;Can\uFFFD;;;|"
       "adr=;;a\\x5cnb\\x0ac\uFFFD\uFFFD\td;;;;|url=" +
           url_read + "\n"},
      {"customer", "vcard",
       Image<Customer>::added({record<Customer>({"John", "Smith", "12", "MR", "1 High St", "",
                                                 "London", "", "12/5/1970", "020-7946"})})
           .bytes(),
       "version=4.0|fn=John Smith|n=Smith;John;;MR;|adr=;;1 High St;;London;;|"
       "tel.voice=020-7946|bday=12/5/1970\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.kind) + " " + c.format);
    TempDir dir;
    dir.write(std::string(c.kind) + ".dat", c.bytes);
    const auto r = orvel(dir, {"export", c.kind, "--format", c.format});
    EXPECT_TRUE(r.exited_with(0) && r.errors.empty()) << r.errors;
    dir.write("export", r.output);  // read back by tests/read_back.py
    const std::string read = std::string(ORVEL_PYTHON " " ORVEL_READ_BACK " ") + c.format + " < " +
                             dir.file("export") + " > " + dir.file("read");
    EXPECT_EQ(system(read.c_str()), 0) << "the parser refused the export";
    EXPECT_EQ(dir.read("read"), c.read);
  }
}

// Another session's save writes in place under the file's lock: an export waits
// for it, and shows the old table or the new one, never the half-written mix.
TEST(Export, DuringAnotherSessionsSaveShowsOneWholeTable) {
  TempDir dir;
  Image<Web> old_table, new_table;
  for (int slot = 0; slot < kSlots; ++slot)
    old_table[slot] = record<Web>({"old"}), new_table[slot] = record<Web>({"new"});
  const std::string image = new_table.bytes();
  dir.write("web.dat", image);
  const std::string new_export = orvel(dir, {"export", "web"}).output;
  dir.write("web.dat", old_table.bytes());
  const int fd = open(dir.file("web.dat").c_str(), O_WRONLY | O_CLOEXEC);
  const ssize_t half = image.size() / 2;
  ASSERT_TRUE(flock(fd, LOCK_EX) == 0 && pwrite(fd, image.data(), half, 0) == half);
  const pid_t saver = fork();
  if (saver == 0) {
    usleep(500'000);
    _exit(pwrite(fd, image.data() + half, half, half) == half ? 0 : 1);
  }
  close(fd);  // the saver holds the lock until it ends
  EXPECT_EQ(orvel(dir, {"export", "web"}).output, new_export);
  int status = -1;
  EXPECT_TRUE(waitpid(saver, &status, 0) == saver && status == 0);
}

// Where each answer goes (an error: one line on standard error naming what is wrong) and the
// exit status; no file is made or changed. sub holds a web page and a friend.dat that cannot be
// read; check looks at the customer.dat a row gives, the other two missing, which is sound.
TEST(CommandLine, StatusStreamsAndNothingWritten) {
  const std::string webs = Image<Web>::added({record<Web>({"w1"}, 2.5)}).bytes();
  const Image<Customer> two =
      Image<Customer>::added({record<Customer>({"", "", "1"}), record<Customer>({"", "", "2"})});
  Image<Customer> open = two, stepped = two;
  memset(open[499].fname, 'A', sizeof open[499].fname);
  stepped[2].num = 4;
  const std::string sound = two.bytes();
  const size_t size = sound.size();
  const Range written[] = {{size - sizeof(Customer), size}};  // slot 499, by a save cut short
  const std::string torn = open.bytes() + make_undo(undo_of(sound, written, size, size), size);
  std::string forged = torn;  // one old byte changed after its hash was taken
  forged[size + 16] ^= 1;
  auto counter = [&](int total) { return Image<Customer>(two).counter(total).bytes(); };
  const struct {
    std::vector<std::string> args;
    int status;
    std::optional<std::string> customers;  // customer.dat, where there is one
    const char* out;                       // what standard output holds; nullptr: nothing
    const char* err = nullptr;             // what standard error holds; nullptr: nothing
  } cases[] = {
      {{"--help"}, 0, {}, "Usage: orvel"},
      {{"-h", "--bogus"}, 0, {}, "Usage: orvel"},
      {{"--version"}, 0, {}, "1.0.0\nLicense GPL-3.0-or-later"},
      {{"--bogus", "--help"}, 2, {}, nullptr, "unknown option '--bogus'; see orvel --help\n"},
      {{"export", "-x", "web"}, 2, {}, nullptr, "unknown option '-x'; see orvel --help\n"},
      {{"frobnicate"}, 2, {}, nullptr, "unknown command 'frobnicate'; see"},
      {{"export"}, 2, {}, nullptr, "export needs a kind"},
      {{"export", "pages"}, 2, {}, nullptr, "unknown kind 'pages'"},
      {{"export", "web", "--format=vcard"}, 2, {}, nullptr, "web pages have no vCard"},
      {{"export", "web", "--format", "xml"}, 2, {}, nullptr, "unknown format 'xml'"},
      {{"export", "web", "now"}, 2, {}, nullptr, "unexpected argument 'now'"},
      {{"--format=csv"}, 2, {}, nullptr, "--format is for export only"},
      {{"-C"}, 2, {}, nullptr, "option '-C' needs an argument"},
      {{"--directory=nowhere", "export", "web"}, 2, {}, nullptr, "cannot work in nowhere: No such"},
      {{"export", "web", "--format", "csv", "-C", "sub"}, 0, {}, "\r\nw1,,,,,,,,,2.5\r\n"},
      {{"export", "customers"}, 0, {}, "fname,surname,cust_no,cust_title,street,town,"},  // no file
      {{"-C", "sub", "check"}, 1, {}, "\nfriend.dat: cannot be read: "},
      {{"-C", "sub", "export", "friends"}, 1, {}, nullptr, "orvel: friend.dat: "},
      {{"-Csub"}, 0, {}, "w1"},  // the dialogue, shown the web pages
      {{"check"}, 0, {}, "customer.dat: missing (an empty table)\n"},
      {{"check"}, 0, sound, "customer.dat: sound (2 records, add counter 2)\n"},
      {{"check"}, 1, sound.substr(0, 400), "short: 400 of 90,000 bytes; from slot 2 on it"},
      {{"check"}, 1, sound + "0123456789", "long: 90,010 bytes, 10 past the table's 90,000"},
      {{"check"}, 1, torn, "bytes past the table; it reads as it was before that save\nweb.dat"},
      {{"check"}, 1, forged, "long: 90,236 bytes, 236 past the table's 90,000"},
      {{"check"}, 1, counter(-3), "the add counter is -3, below 0: adds do nothing\n"},
      {{"check"}, 1, counter(501), "the add counter is 501, past the table's 500 slots\n"},
      {{"check"}, 1, counter(3), "empty slots below the add counter: slot 497\n"},
      {{"check"}, 1, counter(1), "records past the add counter, where adds write: slot 498\n"},
      {{"check"}, 1, stepped.bytes(), "the counter step is 5 (num in slot 2 is 4)"},
      {{"check"}, 1, open.bytes(), "without a NUL, read to their full width: slot 499 (fname)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args) + " " + (c.out ? c.out : c.err));
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.file("sub/friend.dat").c_str(), 0755), 0);
    dir.write("sub/web.dat", webs);
    if (c.customers) dir.write("customer.dat", *c.customers);
    const auto files = snapshot(dir);
    const auto r = orvel(dir, c.args, "2\n3\n");
    EXPECT_TRUE(r.exited_with(c.status)) << r.exit_status;
    EXPECT_TRUE(c.out ? r.output.find(c.out) != std::string::npos : r.output.empty()) << r.output;
    EXPECT_TRUE(c.err ? r.errors.find(c.err) != std::string::npos : r.errors.empty()) << r.errors;
    EXPECT_EQ(r.errors.find('\n') + 1, r.errors.size()) << "more than a line";
    EXPECT_TRUE(snapshot(dir) == files) << "a file made or changed";
  }
}

}  // namespace
}  // namespace orvel

// The HTML file functions on committed pages (tests/utils/html), against
// goldens written from the conversion rules; the in-place removals work on
// copies, one of them forced to fail part way.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "tests/support/allocation_failure.h"
#include "tests/support/child_process.h"
#include "tests/support/fixture.h"
#include "utils/html_to_text.h"
#include "utils/tag_extract.h"
#include "utils/tag_sections.h"
#include "utils/text_tables.h"

namespace {

const std::string html_dir = std::string(QUOR_SOURCE_DIR) + "/tests/utils/html/";

std::string copy_of(const std::string& name, const std::string& as) {
  const std::string path = quor_test::scratch_dir() + "/" + as;
  std::ofstream(path, std::ios::binary | std::ios::trunc) << quor_test::read_file_text(html_dir + name);
  return path;
}

TEST(HtmlFiles, ToTextAgainstGoldens) {
  for (const char* name : {"page", "marks", "links"}) {
    const std::string out = quor_test::scratch_dir() + "/" + name + ".txt";
    ASSERT_TRUE(html_file_to_text((html_dir + name + ".html").c_str(), out.c_str())) << name;
    EXPECT_EQ(quor_test::read_file_text(out), quor_test::read_file_text(html_dir + name + ".txt")) << name;
  }
  // The same path in and out: the page is read whole before it is replaced.
  const std::string same = copy_of("marks.html", "same.html");
  ASSERT_TRUE(html_file_to_text(same.c_str(), same.c_str()));
  EXPECT_EQ(quor_test::read_file_text(same), quor_test::read_file_text(html_dir + "marks.txt"));

  const std::string out = quor_test::scratch_dir() + "/kept.txt";
  std::ofstream(out) << "kept";
  EXPECT_FALSE(html_file_to_text((html_dir + "absent.html").c_str(), out.c_str()));
  EXPECT_EQ(quor_test::read_file_text(out), "kept");
}

TEST(HtmlFiles, TagsAndLinks) {
  const std::string page = quor_test::read_file_text(html_dir + "page.html");
  const int n = static_cast<int>(page.size());
  // The last link's unquoted value runs into the '>' and is not complete.
  const std::string href = "http://example.com/x?a=1&amp;b=2";
  const struct {
    bool (*get)(const char*, int, std::vector<std::string>*);
    std::vector<std::string> want;
  } lists[] = {{get_hrefs, {"page.html", href}}, {get_image_sources, {"pic.png"}},
               {get_links, {"page.html", href, "pic.png"}}};
  std::vector<std::string> v;
  for (const auto& l : lists) {
    v.clear();
    ASSERT_TRUE(l.get(page.data(), n, &v));
    EXPECT_EQ(v, l.want);
  }

  link_map links;
  ASSERT_TRUE(collect_links(page.data(), n, &links));
  ASSERT_EQ(links.size(), 3u);
  // Each extent is the value as written after its '=': blanks and quotes.
  const struct {
    const char* link;
    std::string extent;
  } extents[] = {{"page.html", " page.html"}, {href.c_str(), '"' + href + '"'}, {"pic.png", "\"pic.png\""}};
  for (const auto& e : extents) {
    const auto it = links.find(e.link);
    ASSERT_NE(it, links.end()) << e.link;
    EXPECT_EQ(it->second.first, page.find(e.extent)) << e.link;
    EXPECT_EQ(page.substr(it->second.first, it->second.second), e.extent);
  }

  // Single quotes, an unquoted value ended by a blank, "src" met first
  // inside "data-src", and a link met twice keeping its first place.
  const std::string list = quor_test::read_file_text(html_dir + "links.html");
  v.clear();
  ASSERT_TRUE(get_links(list.data(), static_cast<int>(list.size()), &v));
  EXPECT_EQ(v, (std::vector<std::string>{"one.html", "two.html", "one.html", "pic.gif", "lazy.png"}));
  links.clear();
  ASSERT_TRUE(collect_links(list.data(), static_cast<int>(list.size()), &links));
  EXPECT_EQ(links.size(), 4u);
  EXPECT_EQ(links["one.html"], std::make_pair(static_cast<uint32>(list.find("'one.html'")), 10u));
  EXPECT_EQ(links["pic.gif"], std::make_pair(static_cast<uint32>(list.find("pic.gif")), 7u));

  v.clear();
  ASSERT_TRUE(get_tags(page.data(), 40, &v));
  EXPECT_EQ(v, (std::vector<std::string>{"<HTML>", "<Head>", "<TITLE>"}));
  std::vector<tag_position> positions;
  const char xx[] = "xx<a href=\"y\">>";
  ASSERT_TRUE(get_tags_with_positions(xx, sizeof xx - 1, &positions));
  ASSERT_EQ(positions.size(), 2u);
  EXPECT_EQ(positions[0].position, 3u);
  EXPECT_EQ(positions[1].tag, "");
  EXPECT_EQ(positions[1].position, 0u);
  attribute_match m;
  ASSERT_TRUE(get_attribute_with_extent(positions[0], static_cast<int>(positions[0].tag.size()), "HREF", &m));
  EXPECT_EQ(m.value, "y");
  EXPECT_EQ(m.offset, 10u);
  EXPECT_EQ(m.length, 3u);
  v.clear();
  ASSERT_TRUE(get_text_pieces("<p> Hello </p> world", 20, &v));
  EXPECT_EQ(v, std::vector<std::string>{"Hello"});
  std::string value;
  EXPECT_FALSE(get_attribute("<a href=x>", 10, std::string(257, 'h').c_str(), &value));
  EXPECT_FALSE(get_attribute("<a href=x>", 10, "", &value));
  // An empty name matches at the first character: the first '=' gives the value.
  EXPECT_TRUE(get_attribute("<a b='x' c=\"y\">", 15, "", &value));
  EXPECT_EQ(value, "x");
  EXPECT_FALSE(get_attribute("<a b>", 5, "", &value));
  const tag_position tp{"<a b = \"v w\">", 3};
  ASSERT_TRUE(get_attribute_with_extent(tp, 13, "", &m));
  EXPECT_EQ(m.value, "v w");
  EXPECT_EQ(m.offset, 8u);  // position 3 + index 5 of the '=' 
  EXPECT_EQ(m.length, 6u);  // " \"v w\""
  // A name over 256 characters is refused before the value is touched.
  const std::string long_name(257, 'b');
  value = "kept";
  EXPECT_FALSE(get_attribute("<a b='x'>", 9, long_name.c_str(), &value));
  EXPECT_EQ(value, "kept");
  m.value = "kept";
  m.offset = m.length = 9;
  EXPECT_FALSE(get_attribute_with_extent(tp, 13, long_name.c_str(), &m));
  EXPECT_EQ(m.value, "kept");
  EXPECT_EQ(m.offset, 9u);
  EXPECT_EQ(m.length, 9u);
  // 256 characters are still looked for.
  const std::string name256(256, 'b');
  const std::string tag = "<a " + name256 + "='x' >";
  EXPECT_TRUE(get_attribute(tag.c_str(), static_cast<int>(tag.size()), name256.c_str(), &value));
  EXPECT_EQ(value, "x");
  EXPECT_TRUE(get_attribute("<a data-src='d' src=\"s\">", 24, "src", &value));
  EXPECT_EQ(value, "d");
}

TEST(HtmlFiles, SectionRemovalInBuffers) {
  const struct { std::string text, tag, expect; } cases[] = {
      {"a<script>x()</script>b", "script", "ab"}, {"a<SCRIPT>x()</Script>b", "script", "ab"},
      {"<b>x</b><b>y</b>", "b", ""}, {"<b>xyz", "b", "yz"}, {"p<img src=x/>q and more", "img", "pq and more"},
      {"no section", "b", "no section"},
  };
  for (const auto& c : cases) {
    std::string buf = c.text;
    int length = static_cast<int>(buf.size());
    ASSERT_TRUE(remove_tag_sections(&buf[0], &length, c.tag.c_str()));
    EXPECT_EQ(buf.substr(0, static_cast<size_t>(length)), c.expect) << c.text;
  }
  // UTF-16 buffers: no "/>" end and no nesting; only the closing tag ends a
  // section, and the opening tag is not skipped, so an unclosed one is cut
  // only while at least a closing tag's worth of units remains.
  const struct { std::string text, tag, expect; } wide[] = {
      {"x<b>y</B>z", "b", "xz"}, {"a<img src=x/>bc</IMG>d", "img", "ad"}, {"<b><b>x</b>y</b>z", "b", "y</b>z"},
      {"<b>xyz", "b", "xyz"}, {"no section", "b", "no section"}, {"<b></b>", "b", ""},
  };
  for (const auto& c : wide) {
    std::vector<uint16> units(c.text.begin(), c.text.end());
    units.push_back(0xFFFF);  // beyond the given length: never read or moved
    int length = static_cast<int>(c.text.size()) * 2;
    ASSERT_TRUE(remove_tag_sections_w(units.data(), &length, std::wstring(c.tag.begin(), c.tag.end()).c_str()));
    ASSERT_EQ(length, static_cast<int>(c.expect.size()) * 2) << c.text;
    EXPECT_EQ(std::string(units.begin(), units.begin() + length / 2), c.expect) << c.text;
    EXPECT_EQ(units.back(), 0xFFFF) << c.text;
    // The tag name held as a wide string gives the same.
    std::vector<uint16> again(c.text.begin(), c.text.end());
    again.push_back(0xFFFF);
    length = static_cast<int>(c.text.size()) * 2;
    ASSERT_TRUE(remove_tag_sections_w(again.data(), &length, std::wstring(c.tag.begin(), c.tag.end())));
    ASSERT_EQ(length, static_cast<int>(c.expect.size()) * 2) << c.text;
    EXPECT_EQ(std::string(again.begin(), again.begin() + length / 2), c.expect) << c.text;
    EXPECT_EQ(again.back(), 0xFFFF) << c.text;
  }
  uint16 unit = 'a';
  int length = 0;
  EXPECT_FALSE(remove_tag_sections_w(&unit, &length, L"b"));
  length = 2;
  EXPECT_FALSE(remove_tag_sections_w(nullptr, &length, L"b"));

  std::string out;
  EXPECT_TRUE(get_tag_text("<title>Hello</title>", 20, "title", &out));
  EXPECT_EQ(out, "Hello");
  EXPECT_FALSE(get_tag_text("<title>Hello</title>", 20, "TITLE", &out));

  char* buffer = new char[6];
  std::memcpy(buffer, "xabyab", 6);
  length = 6;
  ASSERT_TRUE(remove_string(&buffer, &length, "AB", true));
  EXPECT_EQ(std::string(buffer, length), "xy");
  char* before = buffer;
  EXPECT_TRUE(remove_string(&buffer, &length, "zz", false));
  EXPECT_EQ(buffer, before);
  EXPECT_FALSE(remove_string(&buffer, &length, "", false));  // ends at once
  delete[] buffer;
}

// A work buffer the memory left cannot hold: each remover gives false and
// changes nothing, not the text, its length or (for the string remover)
// the array itself. 48 MiB of text need 48 MiB more where 16 are left; a
// short text is cut after. In a child, whose address space is cut.
TEST(HtmlFiles, BufferRemoversWithoutMemoryChangeNothing) {
  if (!quor_test::allocation_failures_throw()) GTEST_SKIP() << "this allocator ends the process when memory runs out";
  const int status = quor_test::exit_status_in_child(
      [] {
        const std::string head = "a<script>x()</script>b";
        const int size = 48 << 20;
        std::string narrow(static_cast<size_t>(size), 'x');
        narrow.replace(0, head.size(), head);
        std::vector<uint16> wide(narrow.begin(), narrow.begin() + size / 2);
        char* owned = new char[static_cast<size_t>(size)];
        std::memcpy(owned, narrow.data(), narrow.size());
        char* const array = owned;
        if (!quor_test::limit_address_space(16u << 20)) return 2;
        int length = size;
        if (remove_tag_sections(&narrow[0], &length, "script") || length != size || narrow.compare(0, head.size(), head))
          return 3;
        length = size;
        if (remove_tag_sections_w(wide.data(), &length, L"script") || length != size || wide[1] != '<') return 4;
        length = size;
        if (remove_string(&owned, &length, "<script>", false) || owned != array || length != size ||
            std::memcmp(owned, head.data(), head.size()) != 0)
          return 5;
        delete[] owned;
        std::string small = "a<b>x</b>c";
        length = static_cast<int>(small.size());
        return remove_tag_sections(&small[0], &length, "b") && small.substr(0, static_cast<size_t>(length)) == "ac" ? 0 : 6;
      },
      quor_test::scratch_dir() + "/removers-memory.err");
  EXPECT_EQ(status, 0) << (status == 253 ? "the failed allocation left a remover" : "");
}

TEST(HtmlFiles, FileRemovalsOnCopies) {
  const std::string page = quor_test::read_file_text(html_dir + "page.html");
  const std::string script = "<SCRIPT type=\"text/javascript\">if (a<b) { x = \"</p>\"; }</SCRIPT>";
  const std::string style = "<style>p { color: red }</style>";
  auto without = [&](const std::string& part) {
    std::string s = page;
    return s.erase(s.find(part), part.size());
  };

  const std::string a = copy_of("page.html", "a.html");
  ASSERT_TRUE(remove_scripts_from_file(a.c_str(), nullptr, true));
  EXPECT_EQ(quor_test::read_file_text(a), without(script));
  const std::string b = copy_of("page.html", "b.html"), b_out = quor_test::scratch_dir() + "/b.out";
  ASSERT_TRUE(remove_tag_sections_from_file(b.c_str(), b_out.c_str(), "STYLE"));
  EXPECT_EQ(quor_test::read_file_text(b_out), without(style));
  EXPECT_EQ(quor_test::read_file_text(b), page);
  ASSERT_TRUE(remove_tag_sections_from_file(b.c_str(), nullptr, "style"));
  EXPECT_EQ(quor_test::read_file_text(b), without(style));
  const std::string c = copy_of("page.html", "c.html");
  ASSERT_TRUE(remove_string_from_file(c.c_str(), "&amp;", false));
  std::string no_amp = page;
  for (size_t p; (p = no_amp.find("&amp;")) != std::string::npos;) no_amp.erase(p, 5);
  EXPECT_EQ(quor_test::read_file_text(c), no_amp);

  // UTF-16LE with its mark: sections removed in code units, mark kept.
  auto utf16 = [](const std::string& ascii) {
    std::string s = "\xFF\xFE";
    for (char ch : ascii) s += std::string(1, ch) + '\0';
    return s;
  };
  const std::string w = quor_test::scratch_dir() + "/w.html";
  std::ofstream(w, std::ios::binary) << utf16("x<b>y</B>z");
  ASSERT_TRUE(remove_tag_sections_from_file(w.c_str(), nullptr, "b"));
  EXPECT_EQ(quor_test::read_file_text(w), utf16("xz"));
}

// A large page: a head, then a unit repeated up to the size.
struct big_page {
  std::string head, unit;
  size_t size;
};

// The page's bytes from `at` on, as many as `out` holds.
void page_bytes(const big_page& page, size_t at, std::vector<char>& out) {
  size_t in_unit = at < page.head.size() ? 0 : (at - page.head.size()) % page.unit.size();
  for (char& b : out) {
    if (at < page.head.size()) {
      b = page.head[at++];
      continue;
    }
    b = page.unit[in_unit];
    in_unit = in_unit + 1 == page.unit.size() ? 0 : in_unit + 1;
  }
}

// The page is written and compared a block at a time: memory this process
// takes and frees stays mapped in its heap, where a child whose address
// space is cut would find it again.
void write_page(const std::string& path, const big_page& page) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<char> block;
  for (size_t at = 0; at < page.size; at += block.size()) {
    block.resize(std::min<size_t>(64 << 10, page.size - at));
    page_bytes(page, at, block);
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
}

bool holds_page(const std::string& path, const big_page& page) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> want, got(64 << 10);
  size_t at = 0;
  while (in.read(got.data(), static_cast<std::streamsize>(got.size())) || in.gcount() > 0) {
    want.resize(static_cast<size_t>(in.gcount()));
    page_bytes(page, at, want);
    if (at + want.size() > page.size || std::memcmp(got.data(), want.data(), want.size()) != 0) return false;
    at += want.size();
  }
  return at == page.size;
}

// Memory that runs out leaves every file as it was, and nothing goes to
// standard output. The script remover writes nothing and gives true, the
// other file functions give false: for a page the memory left cannot read
// (48 MiB with 16 MiB left), for one it reads but cannot cut (24 MiB with
// 36 left: the tab expander, which needs no more, copies that page whole),
// and for a page that reads but whose pieces do not fit (4 MiB of tags,
// 24 left). In a child, whose address space is cut.
TEST(HtmlFiles, FileFunctionsWithoutMemoryWriteNothing) {
  if (!quor_test::allocation_failures_throw()) GTEST_SKIP() << "this allocator ends the process when memory runs out";
  const std::string dir = quor_test::scratch_dir(), in = dir + "/big.html", kept = dir + "/big-kept.txt";
  const std::string shown = dir + "/big-stdout.txt", err = dir + "/big.err";
  typedef std::function<bool(const char*, const char*)> file_function;
  const file_function scripts_in_place = [](const char* i, const char*) { return remove_scripts_from_file(i, nullptr, true); };
  const file_function scripts_to_file = [](const char* i, const char* o) { return remove_scripts_from_file(i, o, false); };
  const file_function scripts_shown = [](const char* i, const char*) { return remove_scripts_from_file(i, nullptr, false); };
  const file_function sections = [](const char* i, const char* o) { return remove_tag_sections_from_file(i, o, "script"); };
  const file_function sections_in_place = [](const char* i, const char*) {
    return remove_tag_sections_from_file(i, nullptr, "script");
  };
  const file_function string = [](const char* i, const char*) { return remove_string_from_file(i, "<script>", false); };
  const file_function tabs = [](const char* i, const char* o) { return expand_tabs_in_file(i, o, 4, false); };
  const file_function html = [](const char* i, const char* o) { return html_file_to_text(i, o); };
  const file_function html_in_place = [](const char* i, const char*) { return html_file_to_text(i, i); };
  const size_t mib = 1u << 20;
  const std::string script = "a<script>x()</script>b";
  std::string wide_script = "\xFF\xFE";
  for (const char ch : script) wide_script += std::string(1, ch) + '\0';
  const big_page large{script, "x", 48 * mib}, narrow{script, "x", 24 * mib}, wide{wide_script, "x", 24 * mib},
      tags{"", "<p>", 4 * mib};
  const struct {
    const char* name;
    const big_page& page;
    size_t headroom;
    const file_function& run;
    bool result, copied;
  } cases[] = {
      {"scripts in place, unread", large, 16 * mib, scripts_in_place, true, false},
      {"scripts to a file, unread", large, 16 * mib, scripts_to_file, true, false},
      {"scripts shown, unread", large, 16 * mib, scripts_shown, true, false},
      {"sections, unread", large, 16 * mib, sections, false, false},
      {"string, unread", large, 16 * mib, string, false, false},
      {"scripts in place", narrow, 36 * mib, scripts_in_place, true, false},
      {"scripts to a file", narrow, 36 * mib, scripts_to_file, true, false},
      {"scripts shown", narrow, 36 * mib, scripts_shown, true, false},
      {"sections", narrow, 36 * mib, sections, false, false},
      {"sections in place", narrow, 36 * mib, sections_in_place, false, false},
      {"string", narrow, 36 * mib, string, false, false},
      {"tabs: the page is read", narrow, 36 * mib, tabs, true, true},
      {"utf-16 sections", wide, 36 * mib, sections, false, false},
      {"utf-16 sections in place", wide, 36 * mib, sections_in_place, false, false},
      {"html", tags, 24 * mib, html, false, false},
      {"html in place", tags, 24 * mib, html_in_place, false, false},
  };
  const big_page* written = nullptr;
  for (const auto& c : cases) {
    if (written != &c.page) write_page(in, c.page);
    written = &c.page;
    std::ofstream(kept, std::ios::binary | std::ios::trunc) << "kept";
    const int status = quor_test::exit_status_in_child(
        [&] {
          const int fd = ::open(shown.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
          if (fd < 0 || ::dup2(fd, 1) != 1) return 2;
          if (!quor_test::limit_address_space(c.headroom)) return 2;
          return c.run(in.c_str(), kept.c_str()) ? 1 : 0;
        },
        err);
    EXPECT_EQ(status, c.result ? 1 : 0) << c.name << (status == 253 ? ": the failed allocation left it" : "");
    if (!holds_page(in, c.page)) {
      ADD_FAILURE() << c.name << ": the page changed";
      written = nullptr;
    }
    if (c.copied) EXPECT_TRUE(holds_page(kept, c.page)) << c.name;
    else EXPECT_EQ(quor_test::read_file_text(kept), "kept") << c.name;
    struct stat st;
    EXPECT_TRUE(::stat(shown.c_str(), &st) == 0 && st.st_size == 0) << c.name << ": written to standard output";
  }
}

TEST(HtmlFiles, ForcedWriteFailureLeavesTheFileAlone) {
  const std::string a = copy_of("page.html", "fail.html");
  const std::string page = quor_test::read_file_text(a);
  // Files may not grow past 64 bytes while the limit holds, so writing the
  // new content fails part way.
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool any = remove_scripts_from_file(a.c_str(), nullptr, true) ||
                   remove_tag_sections_from_file(a.c_str(), nullptr, "style") ||
                   remove_string_from_file(a.c_str(), "&amp;", false) || html_file_to_text(a.c_str(), a.c_str());
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(any);
  EXPECT_EQ(quor_test::read_file_text(a), page);
  const std::string dir = quor_test::scratch_dir();
  std::string listing;
  quor_test::run_command("ls '" + dir + "' | grep -c 'fail.html.tmp' || true", listing);
  EXPECT_EQ(listing, "0\n");  // no temporary file left behind
}

}  // namespace

namespace {

// The file functions with each allocation they make failing in turn (the
// read, the cut, the trial file beside the output, the output's check and
// open): the failure never escapes as an exception. Each leaves the page
// and the output as they were and gives its failure result (the script
// remover may give true, having written nothing), or writes the output
// whole, as a run with memory enough does; no trial file is left beside
// them. Allocations fail on demand here, not by a cut address space: an
// early step's large buffer, freed again, leaves the later steps all the
// memory a cut could take away.
TEST(HtmlFiles, FileFunctionsNeverLetAFailedAllocationOut) {
  const std::string dir = quor_test::scratch_dir() + "/each-allocation";
  ::mkdir(dir.c_str(), 0700);
  const std::string in = dir + "/in.html", out = dir + "/out.html", page = "a<script>x()</script>b <p>c</p>";
  const struct {
    const char* name;
    std::function<bool()> run;
    std::string written;  // the output once converted ("": not spelt out here)
    bool may_pass;        // true without writing, where memory ran out
  } cases[] = {
      {"sections", [&] { return remove_tag_sections_from_file(in.c_str(), out.c_str(), "script"); }, "ab <p>c</p>",
       false},
      {"string", [&] { return remove_string_from_file(out.c_str(), "<p>", false); }, "a<script>x()</script>b c</p>",
       false},
      {"html", [&] { return html_file_to_text(in.c_str(), out.c_str()); }, "", false},
      {"scripts", [&] { return remove_scripts_from_file(in.c_str(), out.c_str(), false); }, "ab <p>c</p>", true},
  };
  for (const auto& c : cases) {
    const auto run = [&](long64 fail_at, bool& result, bool& failed) {
      std::ofstream(in, std::ios::binary | std::ios::trunc) << page;
      std::ofstream(out, std::ios::binary | std::ios::trunc) << page;
      quor_test::arm_allocation_failure(fail_at);
      bool threw = false;
      try {
        result = c.run();
      } catch (...) {
        threw = true;
      }
      failed = quor_test::allocations_counted() > fail_at;
      quor_test::arm_allocation_failure(-1);
      return !threw;
    };
    bool result = false, failed = false;
    ASSERT_TRUE(run(-1, result, failed) && result) << c.name;
    const std::string converted = quor_test::read_file_text(out);
    if (!c.written.empty()) {
      EXPECT_EQ(converted, c.written) << c.name;
    }
    for (long64 n = 0; n < 100000; ++n) {
      ASSERT_TRUE(run(n, result, failed)) << c.name << ": the failure of allocation " << n << " escaped";
      if (!failed) break;
      const std::string now = quor_test::read_file_text(out);
      EXPECT_EQ(quor_test::read_file_text(in), page) << c.name << " at " << n;
      EXPECT_TRUE(result ? now == converted || (c.may_pass && now == page) : now == page)
          << c.name << ": " << result << " where allocation " << n << " failed, and the output " << now;
    }
    std::string left;
    quor_test::run_command("ls '" + dir + "'", left);
    EXPECT_EQ(left, "in.html\nout.html\n") << c.name;
  }
}

}  // namespace

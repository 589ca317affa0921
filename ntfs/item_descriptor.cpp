#include "ntfs/item_descriptor.h"

#include <cstring>

namespace {

std::wstring text_of(const wchar_t* s) { return s ? std::wstring(s) : std::wstring(); }

}  // namespace

void item_descriptor::reset() {
  number_a = 0xFFFFFFFFu;
  number_b = number_c = number_e = 0;
  number_d = ~0ULL;
  name.clear();
  name_list.clear();
  text_2.clear();
  text_3.clear();
  text_4.clear();
  text_5.clear();
  std::memset(flags, 0, sizeof flags);
  text_map.clear();
}

void item_descriptor::init_kind3(const wchar_t* n, const wchar_t* t2, uint32 a, uint32 b, uint32 c) {
  reset();
  name = text_of(n);
  text_2 = text_of(t2);
  number_a = a;
  number_b = b;
  number_c = c;
  flags[5] = 1;
}

void item_descriptor::init_kind3_texts(const wchar_t* n, const wchar_t* t2, const wchar_t* t3, uint32 b, uint32 c) {
  reset();
  name = text_of(n);
  text_2 = text_of(t2);
  text_3 = text_of(t3);
  number_b = b;
  number_c = c;
  flags[5] = 1;
}

void item_descriptor::init_kind3(const wchar_t* n, const wchar_t* t2) {
  reset();
  name = text_of(n);
  text_2 = text_of(t2);
  flags[5] = 1;
}

void item_descriptor::init_kind2(const wchar_t* n, uint32 e) {
  reset();
  name = text_of(n);
  number_e = e;
  flags[4] = 1;
}

void item_descriptor::init_kind2(const wchar_t* n, uint32 e, uint32 a, uint32 b, uint32 c) {
  reset();
  name = text_of(n);
  number_e = e;
  number_a = a;
  number_b = b;
  number_c = c;
  flags[4] = 1;
}

void item_descriptor::init_kind2_text(const wchar_t* n, uint32 e, const wchar_t* t3, uint32 b, uint32 c) {
  reset();
  name = text_of(n);
  number_e = e;
  text_3 = text_of(t3);
  number_b = b;
  number_c = c;
  flags[4] = 1;
}

void item_descriptor::init_kind1(const wchar_t* n, uint32 a, uint32 b, uint32 c) {
  reset();
  name = text_of(n);
  number_a = a;
  number_b = b;
  number_c = c;
  flags[3] = 1;
}

void item_descriptor::init_kind1_text(const wchar_t* n, const wchar_t* t3, uint32 b, uint32 c) {
  reset();
  name = text_of(n);
  text_3 = text_of(t3);
  number_b = b;
  number_c = c;
  flags[3] = 1;
}

void item_descriptor::init_kind1(const wchar_t* n) {
  reset();
  name = text_of(n);
  flags[3] = 1;
}

void item_descriptor::set(const wchar_t* n, const wchar_t* t2, const std::vector<std::wstring>& list,
                          const wchar_t* t5, const wchar_t* t3) {
  name = text_of(n);
  text_2 = text_of(t2);
  name_list = list;
  text_5 = text_of(t5);
  text_3 = text_of(t3);
}

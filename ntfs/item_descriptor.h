#pragma once
// A small value record describing one named item of one of three kinds,
// with texts, a list and a map of texts and a few numbers. Every initialiser
// resets the whole record first.
#include <map>
#include <string>
#include <vector>

#include "utils/types.h"

struct item_descriptor {
  uint32 number_a;
  uint32 number_b;
  uint32 number_c;
  std::wstring name;
  std::vector<std::wstring> name_list;
  std::wstring text_3;
  std::wstring text_4;
  ulong64 number_d;
  uint32 number_e;
  std::wstring text_2;
  std::wstring text_5;
  byte flags[7];  // byte 3: kind 1, byte 4: kind 2, byte 5: kind 3
  std::map<std::wstring, std::wstring> text_map;

  item_descriptor() { reset(); }
  void reset();

  void init_kind3(const wchar_t* name, const wchar_t* text_2, uint32 a, uint32 b, uint32 c);
  void init_kind3_texts(const wchar_t* name, const wchar_t* text_2, const wchar_t* text_3, uint32 b, uint32 c);
  void init_kind3(const wchar_t* name, const wchar_t* text_2);
  void init_kind2(const wchar_t* name, uint32 e);
  void init_kind2(const wchar_t* name, uint32 e, uint32 a, uint32 b, uint32 c);
  void init_kind2_text(const wchar_t* name, uint32 e, const wchar_t* text_3, uint32 b, uint32 c);
  void init_kind1(const wchar_t* name, uint32 a, uint32 b, uint32 c);
  void init_kind1_text(const wchar_t* name, const wchar_t* text_3, uint32 b, uint32 c);
  void init_kind1(const wchar_t* name);
  // Assigns without a reset.
  void set(const wchar_t* name, const wchar_t* text_2, const std::vector<std::wstring>& name_list,
           const wchar_t* text_5, const wchar_t* text_3);
};

#include "ntfs/attribute_type_name.h"

void attribute_type_name(std::string& out, int type) {
  switch (type) {
    case 0x10: out = "Standard Info Attrib"; break;
    case 0x20: out = "Attribute list"; break;
    case 0x30: out = "Filename Attrib"; break;
    case 0x40: out = "Oject ID Attrib"; break;
    case 0x50: out = "Security Desc Attrib"; break;
    case 0x60: out = "Volume name Attrib"; break;
    case 0x70: out = "Volume Info Attrib"; break;
    case 0x80: out = "Data Attrib"; break;
    case 0x90: out = "Index Root Attrib"; break;
    case 0xA0: out = "Index Allocation Attrib"; break;
    case 0xB0: out = "Bitmap Attrib"; break;
    case 0xC0: out = "Reparse point Attrib"; break;
    case 0xD0: out = "EA Info Attrib"; break;
    case 0xE0: out = "NTFS_EA"; break;
    case 0xF0: out = "Property Set Attrib"; break;
    case 0x100: out = "Logged Utility Stream Attrib"; break;
    case -1: out = "NTFS_ATTRIBUTE_END_MARKER"; break;
    default: out = "unk"; break;
  }
}

std::string attribute_type_name(int type) {
  std::string out;
  attribute_type_name(out, type);
  return out;
}

// Text dumps of run records, data runs and per-cluster lists.
#include <iomanip>
#include <ostream>

#include "ntfs/attribute_type_name.h"
#include "ntfs/data_runs.h"
#include "ntfs/zq_hex_view.h"

namespace {

// Restores the stream's format on every path out.
struct format_guard {
  std::ostream& os;
  std::ios_base::fmtflags flags;
  char fill;
  explicit format_guard(std::ostream& s) : os(s), flags(s.flags()), fill(s.fill()) {}
  ~format_guard() {
    os.flags(flags);
    os.fill(fill);
  }
};

}  // namespace

void dump_hex_bytes(const std::vector<byte>& bytes, std::ostream& os) {
  format_guard guard(os);
  os << std::hex << std::setfill('0');
  for (byte b : bytes) os << std::setw(2) << static_cast<uint32>(b) << " ";
}

std::ostream& dump_run_record(std::ostream& os, const run_record& run) {
  format_guard guard(os);
  os << std::hex;
  os << "type_data:         0x" << run.attribute_type << " (" << attribute_type_name(static_cast<int>(run.attribute_type))
     << ")" << "\n";
  if (run.resident) {
    os << "Data is Resident" << "\n";
    zq::hex_dump_limited(run.resident_data.empty() ? nullptr : run.resident_data.data(),
                         static_cast<uint32>(run.resident_data.size()), os, 0, 0);
    return os;
  }
  os << "vcn (start):       " << run.vcn << "\n";
  os << "vcn (end):         " << run.vcn + run.num_clusters - 1 << "\n";
  os << "lcn (offset):      " << run.lcn_offset;
  if (run.negative_offset) os << " [negative offset]";
  if (run.vcn != 0 && run.lcn_offset == 0) {
    os << " -- no lcn offset (sparse array)" << "\n";
  } else {
    os << "\n";
    os << "lcn (start):       " << run.lcn << " (" << std::dec << run.lcn << ")" << std::hex << "\n";
    os << "lcn (stop):        " << run.lcn + run.num_clusters - 1 << " (" << std::dec << run.lcn + run.num_clusters - 1
       << ")" << std::hex << "\n";
  }
  os << "num_clusters:      0x" << run.num_clusters << "\n";
  return os;
}

std::ostream& dump_run_records(std::ostream& os, const std::vector<run_record>& runs) {
  ulong64 total = 0;
  for (size_t i = 0; i < runs.size(); ++i) {
    const run_record& r = runs[i];
    {
      format_guard guard(os);
      os << std::hex << std::setfill('0') << "run: 0x" << std::setw(2) << i << " [ 0x" << std::setw(6)
         << r.run_offset << " ], ";
    }
    if (!r.run_bytes.empty()) {
      os << " [ ";
      dump_hex_bytes(r.run_bytes, os);
      os << "]";
    }
    os << "\n";
    dump_run_record(os, r);
    if (r.lcn_offset != 0) {
      total += r.num_clusters;
      format_guard guard(os);
      os << "total num clusters: 0x" << std::hex << total << "\n";
    } else {
      os << "sparse cluster doesn't add to the LCN's but adds to the VCN" << "\n";
    }
    os << "\n";
  }
  return os;
}

void dump_data_runs(std::ostream& os, const std::vector<data_run>& runs) {
  for (size_t i = 0; i < runs.size(); ++i) {
    if (i) os << ", ";
    os << runs[i].lcn << "->" << runs[i].lcn + runs[i].num_clusters - 1;
  }
  os << "\n";
}

void dump_cluster_runs(const std::vector<data_run>& runs, std::ostream& os, const char* prefix) {
  if (runs.empty()) return;
  format_guard guard(os);
  if (prefix) os << prefix;
  os << "cluster runs:" << "\n";
  for (const data_run& r : runs) {
    if (prefix) os << prefix;
    os << "  " << std::hex << std::setw(16) << r.lcn << " : " << std::setw(16) << r.lcn + r.num_clusters - 1;
    if (r.sparse) os << " [sparsed]";
    os << "\n";
  }
}

void dump_lcn_run_entry(std::ostream& os, const lcn_run_entry& entry) {
  format_guard guard(os);
  os << std::hex << "vcn: 0x" << entry.vcn << ", lcn: 0x" << std::setfill('0') << std::setw(8)
     << static_cast<uint32>(entry.lcn);
  if (entry.m_bSparse) os << " (sparse)";
}

void dump_lcn_run_list(std::ostream& os, const lcn_run_list& list) {
  for (const lcn_run_entry& e : list) {
    dump_lcn_run_entry(os, e);
    os << "\n";
  }
}

#pragma once
// Data runs (mapping pairs) of non-resident attributes and the three forms
// the engine keeps them in: run records, compact data runs and one entry per
// cluster.
#include <iosfwd>
#include <string>
#include <vector>

#include "utils/types.h"

const ulong64 RUN_NOT_RECORDED = ~0ULL;  // lcn_offset not recorded / sparse lcn

// One decoded run of a non-resident attribute, or one resident value.
struct run_record {
  ulong64 lcn = 0;
  ulong64 lcn_offset = 0;
  uint32 num_clusters = 0;
  ulong64 vcn = 0;
  uint8 negative_offset = 0;
  uint8 resident = 0;
  std::vector<byte> resident_data;
  uint32 resident_size = 0;
  uint32 attribute_type = 0;
  std::string name;
  ulong64 run_offset = 0;
  std::vector<byte> run_bytes;
  std::vector<byte> next_bytes;

  run_record() = default;
  run_record(ulong64 lcn, uint32 num_clusters, uint32 attribute_type, const std::string& name);
  run_record(ulong64 lcn, uint32 num_clusters, uint32 attribute_type, const std::vector<byte>& run_bytes,
             const std::string& trace);
  run_record(ulong64 lcn, ulong64 lcn_offset, uint32 num_clusters, ulong64 vcn, uint32 attribute_type,
             ulong64 run_offset, const std::vector<byte>& run_bytes, const std::vector<byte>& next_bytes,
             uint8 negative_offset, const std::string& name);
  run_record(ulong64 lcn, ulong64 lcn_offset, uint32 num_clusters, ulong64 vcn, uint32 attribute_type,
             uint8 negative_offset, const std::string& name);
  run_record(const byte* value, uint32 length, uint32 attribute_type, const std::string& name);

  void clear();
  // The sparse marker of the engine's own decoder (`CNtfs::decode_mapping_pairs`).
  bool is_sparse_lcn() const { return lcn == RUN_NOT_RECORDED; }
};

// A compact run of a non-resident attribute.
struct data_run {
  ulong64 lcn = 0;
  ulong64 vcn = 0;
  uint8 sparse = 0;
  uint32 num_clusters = 0;

  data_run() = default;
  data_run(ulong64 lcn_, ulong64 vcn_, uint32 num_clusters_, bool sparse_)
      : lcn(lcn_), vcn(vcn_), sparse(sparse_ ? 1 : 0), num_clusters(num_clusters_) {}
};

// One cluster of an attribute.
struct lcn_run_entry {
  ulong64 lcn = 0;
  ulong64 vcn = 0;
  bool m_bSparse = false;

  lcn_run_entry() = default;
  lcn_run_entry(ulong64 lcn_, ulong64 vcn_, bool sparse) : lcn(lcn_), vcn(vcn_), m_bSparse(sparse) {}
};
typedef std::vector<lcn_run_entry> lcn_run_list;

// Decodes the mapping pairs of a non-resident attribute header (bounded by
// the attribute's own length) and appends one record per run.
bool decode_attribute_runs(const byte* attribute, std::vector<run_record>& out);
// Bounded form: the attribute lies in `available` bytes from `attribute`.
bool decode_attribute_runs(const byte* attribute, uint64 available, std::vector<run_record>& out);

// Mapping-pairs decoding shared with CNtfs::decode_mapping_pairs: decodes
// the runs in [pairs, pairs + length); sparse runs get lcn RUN_NOT_RECORDED.
bool decode_mapping_pairs_bounded(const byte* pairs, uint64 length, std::vector<run_record>& out,
                                  uint32 attribute_type, bool clear);

bool run_records_to_lcn_run_list(const std::vector<run_record>& runs, lcn_run_list& out);
bool run_records_to_data_runs(const std::vector<run_record>& runs, std::vector<data_run>& out);
bool lookup_vcn_in_mapping_pairs(const byte* attribute, ulong64 vcn, ulong64& lcn, ulong64& clusters_left);
bool find_lcn_for_vcn(const std::vector<data_run>& runs, ulong64 vcn, uint32& index, ulong64& lcn);
ulong64 get_data_runs_size(const std::vector<data_run>& runs, uint32 unit, bool skip_sparse);
void compact_data_runs(std::vector<data_run>& runs);
void sort_data_runs(std::vector<data_run>& runs);
void merge_data_runs(const std::vector<data_run>& extra, std::vector<data_run>& target);
uint32 get_run_size(const byte* run);
ulong64 get_run_length(const byte* run);
ulong64 get_run_offset_raw(const byte* run);

std::ostream& dump_run_records(std::ostream& os, const std::vector<run_record>& runs);
std::ostream& dump_run_record(std::ostream& os, const run_record& run);
void dump_data_runs(std::ostream& os, const std::vector<data_run>& runs);
void dump_cluster_runs(const std::vector<data_run>& runs, std::ostream& os, const char* prefix);
void dump_lcn_run_entry(std::ostream& os, const lcn_run_entry& entry);
void dump_lcn_run_list(std::ostream& os, const lcn_run_list& list);
void dump_hex_bytes(const std::vector<byte>& bytes, std::ostream& os);

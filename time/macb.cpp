#include "time/macb.h"

namespace zq {

void make_macb_events(macb_event_map& out, const timeline_record& rec, type_time kind) {
  const ulong64 raw[4] = {rec.m_modify_time, rec.m_access_time, rec.m_mft_change_time,
                          rec.m_create_time};
  const std::string* labels[4] = {&rec.m_modify_desc, &rec.m_access_desc, &rec.m_mft_change_desc,
                                  &rec.m_create_desc};
  static const char letters[4] = {'M', 'A', 'C', 'B'};
  static const char* const base_openers[4] = {" [M", " [.A", " [..C", " [...B]"};
  const zq::time times[4] = {zq::time(raw[0], kind), zq::time(raw[1], kind),
                             zq::time(raw[2], kind), zq::time(raw[3], kind)};
  const std::string& base = rec.m_alt_desc;
  bool taken[4] = {false, false, false, false};

  for (int lead = 0; lead < 4; ++lead) {
    if (taken[lead] || raw[lead] == 0 || !times[lead].m_valid) continue;
    bool joined[4] = {false, false, false, false};
    joined[lead] = true;
    for (int p = lead + 1; p < 4; ++p) {
      if (taken[p] || !times[p].m_valid || times[p].m_filetime != times[lead].m_filetime) continue;
      joined[p] = true;
      taken[p] = true;
    }

    macb_event event;
    event.kind = rec.m_time_kind;
    event.aux = rec.m_event_option;
    event.value = raw[lead];
    event.time = times[lead];
    event.macb = "....";
    for (int p = 0; p < 4; ++p)
      if (joined[p]) event.macb[p] = letters[p];

    std::string& type = event.type;
    bool labelled = false;
    if (!labels[lead]->empty()) {
      type = *labels[lead];
      labelled = true;
    } else if (!base.empty()) {
      type = base + base_openers[lead];
    }
    for (int p = lead + 1; p < 4; ++p) {
      if (joined[p] && !labels[p]->empty()) {
        if (labelled) type += "; ";
        type += *labels[p];
        labelled = true;
      } else if (!base.empty()) {
        type += joined[p] ? letters[p] : '.';
      }
    }
    if (lead < 3 && !base.empty()) type += ']';

    out.emplace(event.value, std::move(event));
  }
}

}  // namespace zq

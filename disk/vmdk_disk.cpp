#include "disk/vmdk_disk.h"

#include <fcntl.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <ostream>

#include "disk/disk_handle.h"
#include "utils/file_handle.h"
#include "utils/utf_convert.h"

namespace {

const char* const base_parent_cid = "ffffffff";

void zero(byte* p, uint32 n) { std::memset(p, 0, n); }

}  // namespace

vmdk_disk::vmdk_disk(bool writable) : m_head(nullptr), m_base(nullptr), m_writable(writable), m_open(false) {}

vmdk_disk::~vmdk_disk() { close(); }

bool vmdk_disk::enter(vmdk_extent* extent) {
  if (!extent->m_valid) {
    delete extent;
    return false;
  }
  // Two files with one content id are one snapshot listed twice: keep the first.
  bool kept = false;
  try {
    kept = m_extents.insert(std::make_pair(extent->m_cid, extent)).second;
  } catch (...) {
    delete extent;
    throw;
  }
  if (!kept) delete extent;
  return true;
}

bool vmdk_disk::add_extent(const wchar_t* path) {
  vmdk_extent* e = new (std::nothrow) vmdk_extent();
  if (!e) return false;
  e->open_w(path, m_writable);
  return enter(e);
}

bool vmdk_disk::add_extent(const char* path) {
  vmdk_extent* e = new (std::nothrow) vmdk_extent();
  if (!e) return false;
  e->open(path, m_writable);
  return enter(e);
}

bool vmdk_disk::add_extent(int fd) {
  if (fd < 0) return false;
  vmdk_extent* e = new (std::nothrow) vmdk_extent();
  if (!e) return false;
  // Reads and writes go through the extent's own descriptor; without one,
  // every grain of this file would come back as zeros. A duplicate leaves
  // the caller's descriptor in the caller's hands.
  e->m_fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (e->m_fd < 0) {
    delete e;
    return false;
  }
  e->load(e->m_fd);
  return enter(e);
}

bool vmdk_disk::add_extents(const std::vector<std::wstring>& paths) {
  for (const std::wstring& p : paths)
    if (!add_extent(p.c_str())) return false;
  return true;
}

bool vmdk_disk::add_extents(const std::vector<std::string>& paths) {
  for (const std::string& p : paths)
    if (!add_extent(p.c_str())) return false;
  return true;
}

vmdk_extent* vmdk_disk::link_parents() {
  vmdk_extent* orphan = nullptr;
  m_base = nullptr;
  m_head = nullptr;
  m_open = false;
  m_chain.clear();
  for (auto& kv : m_extents) {
    kv.second->m_parent = nullptr;
    kv.second->m_child = nullptr;
  }
  for (auto& kv : m_extents) {
    vmdk_extent* e = kv.second;
    if (e->m_parent_cid == base_parent_cid) {
      m_base = e;
      continue;
    }
    auto parent = m_extents.find(e->m_parent_cid);
    if (parent == m_extents.end()) {
      if (!orphan) orphan = e;
      continue;
    }
    e->m_parent = parent->second;
    parent->second->m_child = e;
  }
  return orphan;
}

bool vmdk_disk::walk_from_base() {
  m_chain.clear();
  vmdk_extent* e = m_base;
  size_t steps = 0;
  while (e) {
    // Links that lead round in a circle cannot form a chain.
    if (++steps > m_extents.size()) return false;
    m_chain.push_back(e);
    m_head = e;
    e = e->m_child;
  }
  m_open = true;
  return true;
}

bool vmdk_disk::link_chain() {
  if (m_extents.empty()) return false;
  if (link_parents() || !m_base) return false;
  return walk_from_base();
}

bool vmdk_disk::open_chain(const std::vector<std::wstring>& files, std::ostream& msgs,
                           std::vector<std::wstring>& chain_files) {
  try {
    return check_chain(files, msgs, chain_files);
  } catch (const std::bad_alloc&) {
    msgs << "prob creating virtual vmware disk mapping" << std::endl;
    return false;
  }
}

bool vmdk_disk::check_chain(const std::vector<std::wstring>& files, std::ostream& msgs,
                            std::vector<std::wstring>& chain_files) {
  chain_files = files;
  std::wstring dir;
  bool complete = true;
  for (;;) {
    delete_extents();
    for (const std::wstring& path : chain_files) {
      vmdk_extent* e = new (std::nothrow) vmdk_extent();
      if (!e) {
        msgs << "prob creating virtual vmware disk mapping" << std::endl;
        return false;
      }
      if (dir.empty()) {
        const size_t slash = path.rfind(L'/');
        if (slash != std::wstring::npos) dir = path.substr(0, slash + 1);
      }
      if (!e->open_w(path.c_str(), m_writable) || !e->m_valid) {
        msgs << wstring_to_utf8(path) << " is invalid" << std::endl;
        if (e->m_load_error == VMDK_LOAD_COMPRESSED)
          msgs << wstring_to_utf8(path)
               << " holds compressed grains (stream-optimized), which are not read as raw sectors" << std::endl;
        delete e;
        return false;
      }
      enter(e);
    }

    vmdk_extent* orphan = link_parents();
    if (!orphan) break;

    // The hint is widened byte by byte, as VMware writes plain names there.
    std::wstring hint;
    for (char c : orphan->m_parent_hint) hint += static_cast<wchar_t>(static_cast<unsigned char>(c));
    msgs << "=> vmdk file: " << wstring_to_utf8(orphan->m_wpath) << std::endl;
    msgs << " depends on parent vmdk " << wstring_to_utf8(hint) << std::endl;
    std::wstring parent = dir + hint;
    parent.erase(std::remove(parent.begin(), parent.end(), L'"'), parent.end());
    complete = false;
    // A hint naming a file already listed would be added again without end:
    // that file is in the chain but is not the parent sought.
    if (std::find(chain_files.begin(), chain_files.end(), parent) != chain_files.end()) {
      msgs << wstring_to_utf8(parent) << " does not hold the parent content id " << orphan->m_parent_cid
           << std::endl;
      return false;
    }
    // The hint comes from the evidence: it may name a FIFO or a device
    // (../../dev/zero) as well as a file, and only a file is a parent.
    if (!uni::is_source_kind(wstring_to_utf8(parent), false)) {
      msgs << wstring_to_utf8(parent) << " is not a regular file" << std::endl;
      return false;
    }
    chain_files.push_back(parent);
  }
  if (!complete || !m_base) return false;
  return walk_from_base();
}

bool vmdk_disk::open_chain(const std::vector<std::string>& files, std::ostream& msgs,
                           std::vector<std::string>& chain_files) {
  std::vector<std::wstring> wide;
  for (const std::string& f : files) wide.push_back(utf8_to_wstring(f));
  std::vector<std::wstring> found;
  const bool ok = open_chain(wide, msgs, found);
  chain_files.clear();
  for (const std::wstring& f : found) chain_files.push_back(wstring_to_utf8(f));
  return ok;
}

vmdk_extent* vmdk_disk::find_extent(ulong64 offset) {
  if (!m_open) return nullptr;
  ulong64 position = 0;
  for (vmdk_extent* e = m_head; e; e = e->m_parent)
    if (e->lookup(offset, position)) return e;
  return nullptr;
}

bool vmdk_disk::read(void* buf, ulong64 offset, uint32& len) {
  if (!m_open || !buf || len == 0) return false;
  byte* out = static_cast<byte*>(buf);
  uint32 done = 0;
  while (done < len) {
    vmdk_extent* e = find_extent(offset);
    const vmdk_extent* g = e ? e : m_base;
    const ulong64 room = g->m_grain_bytes - offset % g->m_grain_bytes;
    uint32 count = static_cast<uint32>(std::min<ulong64>(room, len - done));
    if (e) {
      uint32 got = count;
      // An unreadable grain reads as zeros: one bad grain must not hide the
      // rest of the disk.
      if (e->read_at(e->m_fd, out + done, offset, got) && got > 0)
        count = got;
      else
        zero(out + done, count);
    } else {
      zero(out + done, count);
    }
    done += count;
    offset += count;
  }
  len = done;
  return true;
}

bool vmdk_disk::write(const void* buf, ulong64 offset, uint32& len) {
  if (!m_open || !buf || len == 0) return false;
  const byte* in = static_cast<const byte*>(buf);
  uint32 done = 0;
  while (done < len) {
    vmdk_extent* e = find_extent(offset);
    if (!e) break;
    const ulong64 room = e->m_grain_bytes - offset % e->m_grain_bytes;
    uint32 count = static_cast<uint32>(std::min<ulong64>(room, len - done));
    // A chunk the file cannot take ends the write: the caller learns how
    // much was written instead of a success for bytes that never landed.
    if (!e->write_at(e->m_fd, in + done, offset, count) || count == 0) {
      len = done;
      return false;
    }
    done += count;
    offset += count;
  }
  len = done;
  return true;
}

bool vmdk_disk::read_volume(uint32 volume, void* buf, ulong64 offset, uint32& len) {
  if (!m_open || !buf || len == 0 || !m_base || volume >= m_base->m_volume_offsets.size()) return false;
  return read(buf, m_base->m_volume_offsets[volume] + offset, len);
}

bool vmdk_disk::write_volume(uint32 volume, const void* buf, ulong64 offset, uint32& len) {
  if (!m_open || !buf || len == 0 || !m_base || volume >= m_base->m_volume_offsets.size()) return false;
  return write(buf, m_base->m_volume_offsets[volume] + offset, len);
}

void vmdk_disk::delete_extents() {
  for (auto& kv : m_extents) delete kv.second;
  m_extents.clear();
  m_chain.clear();
  m_head = nullptr;
  m_base = nullptr;
  m_open = false;
}

void vmdk_disk::close() {
  delete_extents();
  std::vector<vmdk_extent*>().swap(m_chain);
}

void vmdk_disk::reset() {
  m_extents.clear();
  m_chain.clear();
  m_head = nullptr;
  m_base = nullptr;
  m_writable = false;
  m_open = false;
}

// ---- the VMDK kind of disk_handle ----

bool disk_handle::open_vmdk_chain_w(const std::vector<std::wstring>& vmdk_files) {
  try {
    if (!m_vmdk) m_vmdk = new vmdk_disk(m_writable);
    if (!m_vmdk->add_extents(vmdk_files) || !m_vmdk->link_chain() || !m_vmdk->m_base) return false;
    const vmdk_extent* base = m_vmdk->m_base;
    m_name = base->m_path;
    m_fd = base->m_fd;
    m_size = base->capacity_bytes();
    m_geometry.bytes_per_sector = 512;
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool disk_handle::open_vmdk_chain(const std::vector<std::string>& vmdk_files) {
  try {
    std::vector<std::wstring> wide;
    for (const std::string& f : vmdk_files) wide.push_back(utf8_to_wstring(f));
    return open_vmdk_chain_w(wide);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool disk_handle::read_vmdk(void* buf, uint32& len, ulong64 offset) {
  if (!m_vmdk) return false;
  // As for an image file, a read that runs past the capacity is shortened.
  if (offset < m_size && len > m_size - offset) len = static_cast<uint32>(m_size - offset);
  return m_vmdk->read(buf, offset, len);
}

bool disk_handle::write_vmdk(const void* buf, uint32& len, ulong64 offset) {
  if (!m_vmdk) return false;
  if (offset < m_size && len > m_size - offset) len = static_cast<uint32>(m_size - offset);
  return m_vmdk->write(buf, offset, len);
}

void disk_handle::release_vmdk() {
  if (!m_vmdk) return;
  m_vmdk->close();
  delete m_vmdk;
  m_vmdk = nullptr;
}

#pragma once
// The engine over a kit image, and the entry numbers of the kit's listing,
// for the engine's tests.
#include <memory>
#include <string>

#include "ntfs/ntfs.h"
#include "tests/support/fixture.h"
#include "tests/support/listing.h"

namespace quor_test {

// The engine over `image` (a path); null when the path is empty or the
// volume does not open.
inline std::unique_ptr<CNtfs> open_engine_at(const std::string& image, bool writable = false) {
  CNtfs* e = nullptr;
  if (image.empty() || !open_ntfs_image(image.c_str(), 0, e, writable, false)) return nullptr;
  return std::unique_ptr<CNtfs>(e);
}

// The engine over the kit fixture `name` ("default.img").
inline std::unique_ptr<CNtfs> open_engine(const std::string& name) { return open_engine_at(fixture(name)); }

// The entry number of `path` in the listing of kit image `image`; 0 when
// it is not listed.
inline uint64_t listed_inode(const std::string& image, const std::string& path) {
  for (const listing_entry& e : read_listing(image))
    if (e.path == path) return e.inode;
  return 0;
}

}  // namespace quor_test

// The heap sort of the filtered and sorted views. It is not stable: blobs with equal keys come out
// in the order this procedure leaves them, which callers can observe, so the steps are fixed.
// Internal to the library and its tests.
#pragma once

#include "store/blob_record.h"

#include <cstddef>

// kc_ViewKey: one blob of a view with its sort key (kept together, so a move touches one place).
struct kc_ViewKey {
  double key;
  BlobId id;
};

// kf_ViewSort(items, n, ascending): sorts the n items by key, smallest first when ascending,
// largest first otherwise (n < 2: nothing happens). Keys that are not numbers are placed by the
// same comparisons as any other key, so the order stays deterministic. Cannot fail; allocates
// nothing.
void kf_ViewSort(kc_ViewKey* items, std::size_t n, bool ascending) noexcept;

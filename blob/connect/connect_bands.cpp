// Grey-scale connectivity in bands of rows.
#include "connect/connect_bands.h"

#include "parallel/work_pool.h"

#include <foundation/rlebuffer.h>

std::size_t kf_ConnectInBands(const kcRLEBuffer& image, kc_ConnectWorkspace& ws, kc_BlobStore& out,
                              std::vector<BlobId>& topIds, unsigned threads) {
  (void)threads;
  kc_ConnectEngine engine(image, ws, out, false, kc_CleanupKind::eNone, 0);
  engine.scan();
  engine.finish(topIds);
  return engine.retired();
}

// Tree navigation of a blob: raw links of the last analysis and links of the scene's filtered and
// sorted view.
#include <blob/blob.h>

#include "measure/blob_record.h"
#include "scene/bsd_data.h"

#include <cstddef>

void kcBlob::updateChildView() const {
  if (scene_ == nullptr) return;
  kc_BSDData& d = data();
  kc_BlobRecord& r = *record_;
  if (r.shownStamp == d.viewCounter) return;
  BlobId first = 0;
  std::uint32_t count = 0;
  d.childView(r.firstChild, r.numChildren, first, count);
  giveNotice();
  r.firstShown = first;
  r.numShown = count;
  r.shownStamp = d.viewCounter;
}

void kcBlob::updateSiblingView() const {
  if (scene_ == nullptr) return;
  kc_BSDData& d = data();
  if (record_->parent == 0)
    d.updateShownTop();
  else
    d.blobAt(record_->parent).updateChildView();
}

const kcBlob* kcBlob::parent() const { return relative(record_->parent); }

const kcBlob* kcBlob::nextSibling(bool shown) const {
  if (!shown) return relative(record_->nextSibling);
  updateSiblingView();
  return relative(record_->nextShown);
}

const kcBlob* kcBlob::prevSibling(bool shown) const {
  if (!shown) return relative(record_->prevSibling);
  updateSiblingView();
  return relative(record_->prevShown);
}

const kcBlob* kcBlob::firstChild(bool shown) const {
  if (!shown) return relative(record_->firstChild);
  updateChildView();
  return relative(record_->firstShown);
}

const kcBlob* kcBlob::lastChild(bool shown) const {
  const kcBlob* last = firstChild(shown);
  if (last == nullptr) return nullptr;
  const kc_BSDData& d = data();
  for (std::size_t steps = 1;; ++steps) {
    d.checkWalk(steps);
    const kc_BlobRecord& r = *last->record_;
    const kcBlob* next = relative(shown ? r.nextShown : r.nextSibling);
    if (next == nullptr) return last;
    last = next;
  }
}

long kcBlob::numChildren(bool shown) const {
  if (!shown) return static_cast<long>(record_->numChildren);
  updateChildView();
  return static_cast<long>(record_->numShown);
}

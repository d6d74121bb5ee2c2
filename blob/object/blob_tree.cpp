// Tree navigation of a blob: raw links of the last analysis and links of the scene's filtered and
// sorted view.
#include <blob/blob.h>

#include "store/blob_parts.h"
#include "store/bsd_data.h"

#include <cstddef>

void kcBlob::updateChildView() const {
  if (scene() == nullptr) return;
  kc_BSDData& d = data();
  const kc_BlobParts p = parts();
  kc_ShownLinks& s = p.shown();
  if (s.shownStamp == d.viewCounter) return;
  BlobId first = 0;
  std::uint32_t count = 0;
  d.childView(p.entry.firstChild, first, count);
  giveNotice();
  kc_ShownLinks& fresh = p.shown();  // childView may have made the scene's links
  fresh.firstShown = first;
  fresh.numShown = count;
  fresh.shownStamp = d.viewCounter;
}

void kcBlob::updateSiblingView() const {
  if (scene() == nullptr) return;
  kc_BSDData& d = data();
  const BlobId parent = parts().entry.parent;
  if (parent == 0)
    d.updateShownTop();
  else
    d.blobAt(parent).updateChildView();
}

const kcBlob* kcBlob::parent() const { return relative(parts().entry.parent); }

const kcBlob* kcBlob::nextSibling(bool shown) const {
  if (!shown) return relative(parts().entry.nextSibling);
  updateSiblingView();
  return relative(parts().shown().nextShown);
}

const kcBlob* kcBlob::prevSibling(bool shown) const {
  if (!shown) {
    const kc_BlobParts p = parts();
    return relative(p.copy ? p.copy->prevSibling : data().prevSiblingOf(p.id));
  }
  updateSiblingView();
  return relative(parts().shown().prevShown);
}

const kcBlob* kcBlob::firstChild(bool shown) const {
  if (!shown) return relative(parts().entry.firstChild);
  updateChildView();
  return relative(parts().shown().firstShown);
}

const kcBlob* kcBlob::lastChild(bool shown) const {
  const kcBlob* last = firstChild(shown);
  if (last == nullptr) return nullptr;
  const kc_BSDData& d = data();
  for (std::size_t steps = 1;; ++steps) {
    d.checkWalk(steps);
    const kc_BlobParts p = last->parts();
    const kcBlob* next = relative(shown ? p.shown().nextShown : p.entry.nextSibling);
    if (next == nullptr) return last;
    last = next;
  }
}

long kcBlob::numChildren(bool shown) const {
  if (!shown) {
    const kc_BlobParts p = parts();
    return static_cast<long>(p.copy ? p.copy->numChildren : data().numChildrenOf(p.id));
  }
  updateChildView();
  return static_cast<long>(parts().shown().numShown);
}

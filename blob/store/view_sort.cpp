// The views' heap sort: the classic sift-down heap sort over 1-based positions, kept step for step
// because its order of ties is part of what the views show.
#include "store/view_sort.h"

namespace {

// better(x, y): the child with key x is taken over its sibling with key y.
// sink(k, y): the key k being placed moves below a child with key y.
// The negated forms decide where a key that is not a number goes.
struct Ascending {
  static bool better(double x, double y) { return x > y; }
  static bool sink(double k, double y) { return !(k >= y); }
};
struct Descending {
  static bool better(double x, double y) { return !(x >= y); }
  static bool sink(double k, double y) { return k > y; }
};

template <class Order>
void heapSort(kc_ViewKey* items, std::size_t n) {
  if (n < 2) return;
  // Positions are 1-based as in the procedure: position p is items[p - 1].
  kc_ViewKey* const a = items;
  std::size_t l = n / 2 + 1;
  std::size_t r = n;
  for (;;) {
    kc_ViewKey k;
    if (l > 1) {
      --l;
      k = a[l - 1];
    } else {
      k = a[r - 1];
      a[r - 1] = a[0];
      if (--r == 1) {
        a[0] = k;
        return;
      }
    }
    std::size_t i = l;
    std::size_t j = 2 * l;
    while (j <= r) {
      // The child choice is data-dependent and unpredictable: an addition, not a branch.
      if (j < r) j += static_cast<std::size_t>(Order::better(a[j].key, a[j - 1].key));
      if (Order::sink(k.key, a[j - 1].key)) {
        a[i - 1] = a[j - 1];
        i = j;
        j *= 2;
      } else {
        j = r + 1;
      }
    }
    a[i - 1] = k;
  }
}

}  // namespace

void kf_ViewSort(kc_ViewKey* items, std::size_t n, bool ascending) noexcept {
  if (ascending)
    heapSort<Ascending>(items, n);
  else
    heapSort<Descending>(items, n);
}

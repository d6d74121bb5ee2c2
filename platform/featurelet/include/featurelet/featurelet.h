// The featurelet C layer: the featurelet record, the status codes, and chain sets filled from
// arrays. Every function returns a status; a negative one is a failure that changed nothing.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// kfeat_status: what the C functions return.
enum kfeat_status {
  kfeat_ok = 0,
  kfeat_errBadArgument = -1,  // a null pointer or a count, index or value out of range
  kfeat_errNoMemory = -2       // storage could not be allocated
};

// kfeat_featurelet: one point of a boundary or edge, with an optional direction.
struct kfeat_featurelet {
  double x;                    // position
  double y;
  unsigned char hasDirection;  // 1 when angle holds a direction, 0 when there is none
  double angle;                // the direction in radians; 0 when hasDirection is 0
  double magnitude;            // strength of the edge behind the point; 0 when not measured
  double weight;               // how much the point counts in a fit
};
typedef struct kfeat_featurelet kfeat_featurelet;

// kfeat_featureletChainSet: chains of featurelets, each open or closed. Opaque; made by
// kfeat_featureletChainSet_new and freed by kfeat_featureletChainSet_delete, or handed to a
// kcFeatureletChainSet that frees it.
struct kfeat_featureletChainSet;
typedef struct kfeat_featureletChainSet kfeat_featureletChainSet;

// kfeat_featurelet_init(f): position (0, 0), no direction, angle 0, magnitude 0, weight 1.
// kfeat_errBadArgument when f is null.
int kfeat_featurelet_init(kfeat_featurelet* f);

// kfeat_featurelet_setAngle(f, angle): gives f the direction angle, kept as given (no
// normalisation), and sets hasDirection. kfeat_errBadArgument, f unchanged, when f is null or
// angle is not finite.
int kfeat_featurelet_setAngle(kfeat_featurelet* f, double angle);

// kfeat_featureletChainSet_new(set): *set becomes a new set without chains, which the caller
// owns. kfeat_errBadArgument when set is null, kfeat_errNoMemory when it cannot be allocated; *set
// is unchanged then.
int kfeat_featureletChainSet_new(kfeat_featureletChainSet** set);

// kfeat_featureletChainSet_assignSet(set, numChains, featurelets, closed, firstIndices, counts):
// replaces the chains of set by numChains chains; chain i is a copy of the counts[i] featurelets
// from featurelets[firstIndices[i]], closed when closed[i] is not 0. The arrays must hold what
// these indices reach; they are read, never kept. kfeat_errBadArgument when set is null,
// numChains is negative, an array is null while numChains is positive (featurelets may be null
// when every count is 0), or an index or count is negative; kfeat_errNoMemory when the copy cannot
// be allocated. A failure leaves set as it was. Cost: the featurelets copied.
int kfeat_featureletChainSet_assignSet(kfeat_featureletChainSet* set, int numChains,
                                       const kfeat_featurelet* featurelets, const int* closed,
                                       const int* firstIndices, const int* counts);

// kfeat_featureletChainSet_delete(set): frees set and its chains. A null set does nothing.
int kfeat_featureletChainSet_delete(kfeat_featureletChainSet* set);

// kfeat_failAllocation(after): for tests. From now on, on the calling thread, the allocating
// chain-set calls (_new and _assignSet) succeed `after` times, then one fails with
// kfeat_errNoMemory and changes nothing; later calls succeed again. A negative value disarms it.
void kfeat_failAllocation(int after);

#ifdef __cplusplus
}
#endif

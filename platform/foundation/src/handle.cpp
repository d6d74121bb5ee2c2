// Counted ownership: the out-of-line parts of the counted base and the handles.
#include <foundation/handle.h>

kcRepBase::~kcRepBase() = default;

void kf_ThrowNullHandle() { throw kcBadPointer(L"A null handle was dereferenced."); }

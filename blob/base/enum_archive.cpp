// Archive forms of the library's enumerations shared by the tool and the scene description.
#include <blob/blobdesc.h>
#include <blob/blobtool.h>

#include <foundation/persist.h>

kcArchive& operator||(kcArchive& ar, kcBlobSceneDescription::Analysis& value) {
  kc_Persist::enumeration(ar, value);
  return ar;
}

kcArchive& operator||(kcArchive& ar, kcBlobSceneDescription::ConnectCleanup& value) {
  kc_Persist::enumeration(ar, value);
  return ar;
}

kcArchive& operator||(kcArchive& ar, keBlobParamsMorphOp& value) {
  kc_Persist::enumeration(ar, value);
  return ar;
}

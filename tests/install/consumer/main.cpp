// Consumer of the installed package: builds parameters through the public header and reads an error.
#include <blob/blobtool.h>

int main() {
  kcBlobParams params;
  try {
    params.setSegmentationNone(0);
  } catch (const kcBlobDefs::BadParams& error) {
    return error.errorNumber() == 0x10001a04L ? 0 : 1;
  }
  return 1;
}

// Consumer of the installed package: includes a public header and calls into the library.
#include <foundation/exception.h>

int main() {
  kcBadArgument error(L"installed");
  return error.errorNumber() == 0x10000020L ? 0 : 1;
}

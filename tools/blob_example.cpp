// A small example program: archives an exception and reads it back through the class registry.
#include <foundation/archive.h>

#include <iostream>
#include <memory>
#include <vector>

int main() {
  std::vector<unsigned char> bytes;
  kcBadArgument original(L"An example error.");
  {
    kcArchive out(bytes, kcArchive::eStoring);
    kcPersistent* p = &original;
    kcPersistent* unused = nullptr;
    kcPersistent::serializePointer(out, p, unused);
  }
  kcArchive in(bytes, kcArchive::eLoading);
  kcPersistent* loaded = nullptr;
  kcPersistent::serializePointer(in, nullptr, loaded, true);
  std::unique_ptr<kcPersistent> owner(loaded);
  auto* error = dynamic_cast<kcException*>(loaded);
  if (error == nullptr) return 1;
  std::wcout << L"archived " << bytes.size() << L" bytes; read back: " << error->message(true) << L"\n";
  return 0;
}

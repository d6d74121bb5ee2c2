// kcPersistent's archive steps and the process-wide class registry.
#include <foundation/archive.h>
#include <foundation/persist.h>
#include <foundation/persistent.h>

#include <map>
#include <memory>
#include <typeindex>
#include <unordered_map>

namespace {

constexpr kc_Persist::Level kLevel{0, "kcPersistent", 0};

struct Entry {
  const std::type_info* type;
  kc_Instantiator::Factory make;
  bool ambiguous;
};

// Function-local statics: registration runs during other translation units' static init.
std::map<std::string, Entry>& byName() {
  static std::map<std::string, Entry> table;
  return table;
}
std::unordered_map<std::type_index, std::string>& byType() {
  static std::unordered_map<std::type_index, std::string> table;
  return table;
}

}  // namespace

kcPersistent::~kcPersistent() = default;

void kcPersistent::reInit() {}

void kcPersistent::loadSimple(kcArchive& ar) {
  if (!ar.isLoading()) throw kcBadArgument(L"loadSimple needs an archive that is loading.");
  reInit();
  ar || *this;
}

void kcPersistent::dispatchSerialize(kcArchive& ar) {
  kc_Persist::dispatch(ar, *this, kLevel, [](unsigned char) {});
}

bool kcPersistent::haveVisited(kcArchive& ar, const void* part, std::size_t size) {
  return ar.visited_.count(kcArchive::PartKey{part, size}) != 0;
}

void kcPersistent::setVisited(kcArchive& ar, const void* part, std::size_t size) {
  ar.visited_.insert(kcArchive::PartKey{part, size});
}

kc_Instantiator::kc_Instantiator(const char* name, const std::type_info& type, Factory make) {
  auto [it, inserted] = byName().try_emplace(name, Entry{&type, make, false});
  if (!inserted && *it->second.type != type) it->second.ambiguous = true;
  byType().try_emplace(std::type_index(type), name);
}

kcPersistent* kc_Instantiator::create(const std::string& name) {
  auto it = byName().find(name);
  if (it == byName().end()) return nullptr;
  if (it->second.ambiguous) throw kcInvariantFailure(L"Two classes are registered under one name.");
  return it->second.make();
}

const char* kc_Instantiator::nameOf(const kcPersistent& object) {
  auto it = byType().find(std::type_index(typeid(object)));
  return it == byType().end() ? nullptr : it->second.c_str();
}

bool kc_Instantiator::isRegistered(const std::string& name) { return byName().count(name) != 0; }

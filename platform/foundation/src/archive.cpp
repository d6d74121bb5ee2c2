// kcArchive: the byte encoding of built-in values, strings, byte vectors and object references.
#include <foundation/archive.h>
#include <foundation/persist.h>
#include <foundation/text.h>

#include <bit>
#include <climits>
#include <cstring>
#include <istream>
#include <iterator>
#include <ostream>

namespace {

const wchar_t* const kDamaged = L"The archive is damaged or truncated.";
const wchar_t* const kBadUtf8 = L"The archive holds text that is not valid UTF-8.";
const wchar_t* const kTooWide = L"A value does not fit its 32-bit archive width.";
const wchar_t* const kUnknownClass = L"The archive names a class that is not registered.";
const wchar_t* const kOwnedTwice = L"The archive refers twice to an object that has one owner.";

constexpr unsigned char kTagNull = 0;
constexpr unsigned char kTagNew = 1;
constexpr unsigned char kTagBackRef = 2;
constexpr std::uint32_t kMaxClassName = 256;

// Nesting: counts one level of object loading; refuses a level beyond kcArchive::kMaxNesting.
class NestingGuard {
 public:
  explicit NestingGuard(unsigned& depth) : depth_(depth) {
    if (depth_ >= kcArchive::kMaxNesting) kcArchive::damaged();
    ++depth_;
  }
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;
  ~NestingGuard() { --depth_; }

 private:
  unsigned& depth_;
};

static_assert(std::endian::native == std::endian::little, "the archive assumes a little-endian host");

// Decodes strict UTF-8 (no overlongs, no surrogates); throws Damaged on anything else.
std::wstring fromUtf8(const unsigned char* p, std::size_t n) {
  std::wstring out;
  out.reserve(n);
  std::size_t i = 0;
  while (i < n) {
    unsigned char b = p[i];
    int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || static_cast<std::size_t>(extra) >= n - i) {
      if (extra != 0) throw kcArchive::Damaged(kBadUtf8);
    }
    char32_t c = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
    for (int k = 1; k <= extra; ++k) {
      unsigned char t = p[i + static_cast<std::size_t>(k)];
      if ((t & 0xC0) != 0x80) throw kcArchive::Damaged(kBadUtf8);
      c = (c << 6) | (t & 0x3F);
    }
    static constexpr char32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
    if (c < kMin[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) throw kcArchive::Damaged(kBadUtf8);
    out += static_cast<wchar_t>(c);
    i += static_cast<std::size_t>(extra) + 1;
  }
  return out;
}

}  // namespace

std::size_t kcArchive::PartHash::operator()(const PartKey& k) const noexcept {
  return std::hash<const void*>()(k.address) ^ (k.size * 0x9E3779B97F4A7C15ull);
}

kcArchive::kcArchive(std::vector<unsigned char>& buffer, Mode mode) : mode_(mode) {
  if (mode == eStoring) {
    out_ = &buffer;
  } else {
    in_ = buffer;
  }
}

kcArchive::kcArchive(const unsigned char* data, std::size_t size) : mode_(eLoading) {
  if (size != 0 && data == nullptr) throw kcBadPointer(L"Null data handed to an archive.");
  if (size != 0) in_.assign(data, data + size);
}

kcArchive::kcArchive(std::ostream& out) : mode_(eStoring), stream_(&out) {}

kcArchive::kcArchive(std::istream& in) : mode_(eLoading) {
  in_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) throw Damaged(L"The archive stream could not be read.");
}

kcArchive::kcArchive(std::iostream& stream, Mode mode) : mode_(mode) {
  if (mode == eStoring) {
    stream_ = &stream;
  } else {
    in_.assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
    if (stream.bad()) throw Damaged(L"The archive stream could not be read.");
  }
}

kcArchive::~kcArchive() = default;

void kcArchive::writeBytes(const void* data, std::size_t size) {
  if (!isStoring()) throw kcBadArgument(L"The archive is not storing.");
  ++requests_;
  if (size == 0) return;
  auto* p = static_cast<const unsigned char*>(data);
  if (out_) {
    out_->insert(out_->end(), p, p + size);
  } else {
    stream_->write(reinterpret_cast<const char*>(p), static_cast<std::streamsize>(size));
    if (!*stream_) throw Damaged(L"The archive stream could not be written.");
  }
}

void kcArchive::readBytes(void* data, std::size_t size) {
  if (!isLoading()) throw kcBadArgument(L"The archive is not loading.");
  ++requests_;
  if (size > in_.size() - pos_) throw Damaged(kDamaged);
  if (size != 0) std::memcpy(data, in_.data() + pos_, size);
  pos_ += size;
}

std::size_t kcArchive::remaining() const { return isLoading() ? in_.size() - pos_ : 0; }

void kcArchive::checkCount(std::uint64_t count, std::size_t minBytesEach) const {
  std::uint64_t each = minBytesEach == 0 ? 1 : minBytesEach;
  if (count > remaining() / each) throw Damaged(kDamaged);
}

void kcArchive::damaged() { throw Damaged(kDamaged); }

std::uint32_t kcArchive::readU32() {
  std::uint32_t v;
  readBytes(&v, 4);
  return v;
}

void kcArchive::writeU32(std::uint32_t v) { writeBytes(&v, 4); }

kcArchive& kcArchive::operator||(bool& v) {
  if (isStoring()) {
    unsigned char b = v ? 1 : 0;
    writeBytes(&b, 1);
  } else {
    unsigned char b;
    readBytes(&b, 1);
    if (b > 1) throw Damaged(kDamaged);
    v = b != 0;
  }
  return *this;
}

kcArchive& kcArchive::operator||(int& v) {
  if (isStoring()) {
    writeU32(static_cast<std::uint32_t>(v));
  } else {
    v = static_cast<int>(readU32());
  }
  return *this;
}

kcArchive& kcArchive::operator||(unsigned int& v) {
  if (isStoring()) {
    writeU32(v);
  } else {
    v = readU32();
  }
  return *this;
}

kcArchive& kcArchive::operator||(long& v) {
  if (isStoring()) {
    if (v < INT32_MIN || v > INT32_MAX) throw Unrepresentable(kTooWide);
    writeU32(static_cast<std::uint32_t>(static_cast<std::int32_t>(v)));
  } else {
    v = static_cast<std::int32_t>(readU32());
  }
  return *this;
}

kcArchive& kcArchive::operator||(unsigned long& v) {
  if (isStoring()) {
    if (v > UINT32_MAX) throw Unrepresentable(kTooWide);
    writeU32(static_cast<std::uint32_t>(v));
  } else {
    v = readU32();
  }
  return *this;
}

kcArchive& kcArchive::operator||(double& v) {
  if (isStoring()) {
    writeBytes(&v, 8);
  } else {
    readBytes(&v, 8);
  }
  return *this;
}

kcArchive& operator||(kcArchive& ar, unsigned char& v) {
  if (ar.isStoring()) {
    ar.writeBytes(&v, 1);
  } else {
    ar.readBytes(&v, 1);
  }
  return ar;
}

namespace {

// Archives a byte container (std::string or a byte vector) as a 4-byte count and the bytes. A load
// checks the count against the bytes left before allocating and replaces v only when it succeeds.
template <class Bytes>
void archiveBytes(kcArchive& ar, Bytes& v) {
  if (ar.isStoring()) {
    if (v.size() > UINT32_MAX) throw kcArchive::Unrepresentable(kTooWide);
    unsigned int n = static_cast<unsigned int>(v.size());
    ar || n;
    ar.writeBytes(v.data(), v.size());
  } else {
    unsigned int n = 0;
    ar || n;
    ar.checkCount(n, 1);
    Bytes bytes(n, 0);
    ar.readBytes(bytes.data(), n);
    v = std::move(bytes);
  }
}

}  // namespace

kcArchive& operator||(kcArchive& ar, std::string& v) {
  archiveBytes(ar, v);
  return ar;
}

kcArchive& operator||(kcArchive& ar, std::wstring& v) {
  if (ar.isStoring()) {
    std::string bytes = kfUtf8(v);
    ar || bytes;
  } else {
    std::string bytes;
    ar || bytes;
    v = fromUtf8(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  }
  return ar;
}

kcArchive& operator||(kcArchive& ar, std::vector<unsigned char>& v) {
  archiveBytes(ar, v);
  return ar;
}

kcArchive& operator||(kcArchive& ar, kcPersistent& object) {
  if (ar.isStoring()) {
    auto [it, inserted] = ar.stored_.try_emplace(&object, static_cast<std::uint32_t>(ar.stored_.size()));
    if (!inserted) throw kcBadArgument(L"An object was archived in place after it was already archived.");
    object.dispatchSerialize(ar);
    return ar;
  }
  NestingGuard nesting(ar.depth_);
  ar.loaded_.push_back(&object);
  object.dispatchSerialize(ar);
  return ar;
}

void kcPersistent::serializePointer(kcArchive& ar, kcPersistent* current, kcPersistent*& loaded, bool owning,
                                    bool* created) {
  if (created) *created = false;
  if (ar.isStoring()) {
    unsigned char tag = kTagNull;
    if (current == nullptr) {
      ar || tag;
      return;
    }
    auto found = ar.stored_.find(current);
    if (found != ar.stored_.end()) {
      if (owning) throw kcBadArgument(L"An owned object was archived twice.");
      tag = kTagBackRef;
      unsigned int index = found->second;
      ar || tag || index;
      return;
    }
    const char* name = kc_Instantiator::nameOf(*current);
    if (name == nullptr) throw kcBadArgument(L"The object's class is not registered for archiving.");
    std::string className = name;
    tag = kTagNew;
    ar || tag || className;
    ar.stored_.emplace(current, static_cast<std::uint32_t>(ar.stored_.size()));
    current->dispatchSerialize(ar);
    return;
  }
  loaded = nullptr;
  unsigned char tag = 0;
  ar || tag;
  if (tag == kTagNull) return;
  if (tag == kTagBackRef) {
    unsigned int index = 0;
    ar || index;
    if (owning || index >= ar.loaded_.size()) throw kcArchive::Damaged(owning ? kOwnedTwice : kDamaged);
    loaded = ar.loaded_[index];
    return;
  }
  if (tag != kTagNew) kcArchive::damaged();
  NestingGuard nesting(ar.depth_);
  unsigned int length = 0;
  ar || length;
  if (length == 0 || length > kMaxClassName) kcArchive::damaged();
  ar.checkCount(length, 1);
  std::string className(length, '\0');
  ar.readBytes(className.data(), length);
  std::unique_ptr<kcPersistent> object(kc_Instantiator::create(className));
  if (!object) throw kcArchive::UnknownClass(kUnknownClass);
  std::size_t slot = ar.loaded_.size();
  ar.loaded_.push_back(object.get());
  try {
    object->dispatchSerialize(ar);
  } catch (...) {
    ar.loaded_[slot] = nullptr;  // a later back-reference must not reach the deleted object
    throw;
  }
  loaded = object.release();
  if (created) *created = true;
}

kcArchive::UnknownVersion::UnknownVersion(const char* file, int line)
    : file_(file ? file : ""), hasFile_(file != nullptr), line_(line) {}

void kcArchive::UnknownVersion::message_(std::wostream& os) const {
  os << L"The archive holds a version this code cannot read";
  if (hasFile_) os << L" (" << std::wstring(file_.begin(), file_.end()) << L", line " << line_ << L")";
  os << L".";
}

long kcArchive::UnknownVersion::errorNumber() const { return 0x10000010L; }
void kcArchive::UnknownVersion::suicideAndRethrow() {
  UnknownVersion copy(*this);
  delete this;
  throw copy;
}
void kcArchive::UnknownVersion::dispatchSerialize(kcArchive& ar) {
  kc_Persist::dispatch(ar, *this, kc_Persist::Level{0, "kcArchive::UnknownVersion", 0}, [&](unsigned char) {
    kcException::dispatchSerialize(ar);
    bool hasFile = hasFile_;
    std::string file = file_;
    int line = line_;
    ar || hasFile || file || line;
    if (ar.isLoading()) {
      if (!hasFile && !file.empty()) damaged();
      hasFile_ = hasFile;
      file_ = std::move(file);
      line_ = line;
    }
  });
}
kcPersistent* kcArchive::UnknownVersion::make() { return new UnknownVersion(); }
kc_Instantiator kcArchive::UnknownVersion::sExemplar("kcArchive::UnknownVersion", typeid(UnknownVersion),
                                                     &UnknownVersion::make);

KC_DEFINE_EXCEPTION(kcArchive::Damaged, kcExceptionWithString, "kcArchive::Damaged", 0x10000011L);
KC_DEFINE_EXCEPTION(kcArchive::UnknownClass, kcExceptionWithString, "kcArchive::UnknownClass", 0x10000012L);
KC_DEFINE_EXCEPTION(kcArchive::Unrepresentable, kcExceptionWithString, "kcArchive::Unrepresentable",
                    0x10000013L);

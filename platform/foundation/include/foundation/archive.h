// The archive: a byte stream that stores or loads persistent objects and built-in values.
#pragma once

#include <foundation/exception.h>

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// kcArchive: stores values into, or loads them from, a byte buffer or a stream.
//
// Encoding (fixed, independent of the host): little-endian; bool and unsigned char 1 byte;
// int, long, unsigned int and unsigned long 4 bytes; double 8 bytes (IEEE 754 bits); wide strings
// as a 4-byte byte count and UTF-8; byte vectors as a 4-byte count and the bytes. A pointer is a
// tag byte: 0 null, 1 a new object (class name as a 4-byte count and ASCII, then its body), 2 a
// back-reference (4-byte index of an object archived earlier, in place or through a pointer).
// An object archived in place is given its index before its body, so a pointer back to it resolves.
//
// Storing a long outside the 32-bit range, or an unsigned long above 2^32 - 1, throws
// kcArchive::Unrepresentable and writes nothing. Loading treats the bytes as hostile: a short read,
// a count larger than the bytes left, a bad tag, bad UTF-8 or an unknown class throw
// kcArchive::Damaged or kcArchive::UnknownClass, and nothing is allocated beyond what the
// remaining bytes could hold. Objects nest (an object inside an object, in place or through a
// pointer) at most kMaxNesting deep when loading; a deeper archive throws Damaged, so hostile
// bytes cannot exhaust the stack.
//
// Round trip in memory:
//   std::vector<unsigned char> bytes;
//   { kcArchive out(bytes, kcArchive::eStoring); out || object; }
//   kcArchive in(bytes, kcArchive::eLoading);
//   in || copy;
class kcArchive {
 public:
  enum Mode : std::int32_t { eStoring = 0, eLoading = 1 };
  static constexpr unsigned kMaxNesting = 64;

  // Over a byte vector. Storing appends to buffer, which must outlive the archive. Loading copies
  // buffer, so the vector may change or die afterwards.
  kcArchive(std::vector<unsigned char>& buffer, Mode mode);
  // Loading from size bytes at data (copied).
  kcArchive(const unsigned char* data, std::size_t size);
  // Storing to a stream, written through at each operation; a failed write throws Damaged.
  explicit kcArchive(std::ostream& out);
  // Loading from a stream: reads the stream to its end at construction (so the bytes left are
  // always known); a read error throws Damaged.
  explicit kcArchive(std::istream& in);
  // Over a stream that reads and writes: storing or loading as mode says, as above.
  kcArchive(std::iostream& stream, Mode mode);

  kcArchive(const kcArchive&) = delete;
  kcArchive& operator=(const kcArchive&) = delete;
  ~kcArchive();

  bool isLoading() const { return mode_ == eLoading; }
  bool isStoring() const { return mode_ == eStoring; }

  kcArchive& operator||(bool& v);
  kcArchive& operator||(int& v);
  kcArchive& operator||(unsigned int& v);
  kcArchive& operator||(long& v);
  kcArchive& operator||(unsigned long& v);
  kcArchive& operator||(double& v);

  // Raw access for archive forms of the foundation's own types.
  void writeBytes(const void* data, std::size_t size);
  void readBytes(void* data, std::size_t size);
  // remaining(): bytes not yet read (loading; 0 when storing).
  std::size_t remaining() const;
  // requests(): how many reads or writes (values and byte blocks, empty ones included) the archive
  // has served. A measure of the work an archive form did, independent of the clock.
  std::uint64_t requests() const { return requests_; }
  // checkCount(count, minBytesEach): throws Damaged unless count elements of at least minBytesEach
  // archived bytes each (at least 1 is assumed) could still be read. Call before allocating.
  void checkCount(std::uint64_t count, std::size_t minBytesEach) const;
  // damaged(what): throws kcArchive::Damaged with the fixed message for a damaged archive.
  [[noreturn]] static void damaged();

  // The version byte was newer than the reader knows. file may be null.
  class UnknownVersion : public kcException {
   public:
    UnknownVersion(const char* file = nullptr, int line = 0);
    // file(): the source named at construction, or null; line(): the line.
    const char* file() const { return hasFile_ ? file_.c_str() : nullptr; }
    int line() const { return line_; }
    KC_CONCRETE_EXCEPTION(UnknownVersion);

   protected:
    void message_(std::wostream& os) const override;

   private:
    std::string file_;
    bool hasFile_ = false;
    std::int32_t line_ = 0;
  };

  // The bytes are not an archive this code can read: truncated, malformed or inconsistent.
  class Damaged : public kcExceptionWithString {
   public:
    explicit Damaged(const wchar_t* message = nullptr) : kcExceptionWithString(message) {}
    KC_CONCRETE_EXCEPTION(Damaged);
  };

  // An object's class name is not in the registry (or is ambiguous).
  class UnknownClass : public kcExceptionWithString {
   public:
    explicit UnknownClass(const wchar_t* message = nullptr) : kcExceptionWithString(message) {}
    KC_CONCRETE_EXCEPTION(UnknownClass);
  };

  // A value does not fit its archive width (storing).
  class Unrepresentable : public kcExceptionWithString {
   public:
    explicit Unrepresentable(const wchar_t* message = nullptr) : kcExceptionWithString(message) {}
    KC_CONCRETE_EXCEPTION(Unrepresentable);
  };

 private:
  friend class kcPersistent;
  friend kcArchive& operator||(kcArchive& ar, kcPersistent& object);

  std::uint32_t readU32();
  void writeU32(std::uint32_t v);

  Mode mode_;
  std::vector<unsigned char>* out_ = nullptr;  // storing to memory
  std::ostream* stream_ = nullptr;             // storing to a stream
  std::vector<unsigned char> in_;              // loading
  std::size_t pos_ = 0;
  std::uint64_t requests_ = 0;
  unsigned depth_ = 0;  // objects being loaded, one inside the other

  // Objects archived so far, by index (loading) and by address (storing).
  std::vector<kcPersistent*> loaded_;
  std::unordered_map<const kcPersistent*, std::uint32_t> stored_;
  struct PartKey {
    const void* address;
    std::size_t size;
    bool operator==(const PartKey&) const = default;
  };
  struct PartHash {
    std::size_t operator()(const PartKey& k) const noexcept;
  };
  std::unordered_set<PartKey, PartHash> visited_;
};

// Free operators for the remaining built-in forms.
kcArchive& operator||(kcArchive& ar, unsigned char& v);
kcArchive& operator||(kcArchive& ar, std::wstring& v);
kcArchive& operator||(kcArchive& ar, std::string& v);
kcArchive& operator||(kcArchive& ar, std::vector<unsigned char>& v);

// operator||(ar, object): archives object in place with its own dispatchSerialize. Storing an
// object in place that was already archived to the same archive throws kcBadArgument.
kcArchive& operator||(kcArchive& ar, kcPersistent& object);

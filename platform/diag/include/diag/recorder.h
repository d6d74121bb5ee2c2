// The diagnostics recorder: the kinds of record, a record's entries, and the recorder holding them.
#pragma once

#include <diag/data.h>

#include <graphics/graphic.h>

#include <foundation/pelbuffer.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// kcDiagDefs: scope of the diagnostics definitions.
class kcDiagDefs {
 public:
  kcDiagDefs() = delete;

  // What: the kinds of record, each one bit of the recording flags a caller passes along with a
  // recorder. Bits the kinds do not use are left to the callers.
  enum What : unsigned long {
    eRecordInput = 0x10000,   // the input of an analysis
    eRecordResult = 0x20000,  // the result of an analysis, or its failure
  };

  // Coordinates: the coordinate system a record's graphics are given in (kcDiagRecord::graphics).
  // Records store the value as given and do not interpret it.
  enum Coordinates : long {
    eClientCoordinates = 2,  // the client coordinates of the image the record shows
  };
};

// kcDiagRecord: one record: entries (an image, an annotation, data, graphics, text) in the order
// they were given. Every entry holds its own copy of what it was given, so later changes to the
// caller's objects never reach it. An entry that cannot be made (a failed copy, refused data)
// leaves the record as it was. Not copyable; a recorder owns its records.
class kcDiagRecord {
 public:
  enum EntryKind : int { eImage = 0, eAnnotation = 1, eData = 2, eGraphics = 3, eText = 4 };

  // Entry: one entry. title() is the annotation of an eAnnotation entry, the title given with
  // data, graphics and text, and empty for an image. The other accessors give the contents of
  // their own kind and throw kcBadArgument for an entry of another kind. References live as long
  // as the record.
  class Entry {
   public:
    EntryKind kind() const { return kind_; }
    const std::wstring& title() const { return title_; }
    const kcPelBuffer_const<unsigned char>& image() const;
    const kcDiagData& data() const;
    const kcGraphicList& graphics() const;
    long coordinates() const;
    const std::wstring& text() const;

   private:
    friend class kcDiagRecord;
    Entry(EntryKind kind, std::wstring title);
    void expect(EntryKind kind) const;

    EntryKind kind_;
    std::wstring title_;
    kcPelBuffer_const<unsigned char> image_;
    std::unique_ptr<kcDiagData> data_;
    kcGraphicList graphics_;
    long coordinates_ = 0;
    std::wstring text_;
  };

  kcDiagRecord() = default;
  kcDiagRecord(const kcDiagRecord&) = delete;
  kcDiagRecord& operator=(const kcDiagRecord&) = delete;
  ~kcDiagRecord();

  // image(pels, copyPels): adds an image entry. With copyPels true the record copies the pels
  // into storage of its own; with false it shares the caller's storage (the caller must not write
  // those pels afterwards). An unbound image is recorded as unbound: the record says there was
  // no image to show.
  void image(const kcPelBuffer_const<unsigned char>& pels, bool copyPels);
  // recordAnnotation(annotation): adds an annotation entry, the record's caption.
  void recordAnnotation(const std::wstring& annotation);
  // data(data, title): adds a data entry holding data.copy(). Throws kcBadPointer when copy()
  // gives null and kcBadArgument when it gives an object of another class than data's (a derived
  // class that does not override copy()); the stray copy is deleted.
  void data(const kcDiagData& data, const std::wstring& title);
  // data(data, title): the same with data itself, which the record takes over (no copy is made).
  // Throws kcBadPointer when data is null; data is deleted when the entry cannot be added.
  void data(std::unique_ptr<kcDiagData> data, const std::wstring& title);
  // graphics(list, coordinates, title): adds a graphics entry holding a copy of every graphic of
  // list (clones, in list order) and the coordinate system they are given in.
  void graphics(const kcGraphicList& list, long coordinates, const std::wstring& title);
  // text(text, title): adds a text entry.
  void text(const std::wstring& text, const std::wstring& title);

  // numEntries(): the entries so far. entry(i): entry i (0-based, in the order given); throws
  // kcBadArgument unless i < numEntries().
  std::size_t numEntries() const { return entries_.size(); }
  const Entry& entry(std::size_t i) const;

 private:
  std::vector<Entry> entries_;
};

// kcDiagObject: a recorder. It holds records in the order they were made, and recording flags of
// its own that every analysis recording into it adds to the caller's. Not synchronised: one
// recorder must not be used from two threads at once.
class kcDiagObject {
 public:
  kcDiagObject() = default;
  kcDiagObject(const kcDiagObject&) = delete;
  kcDiagObject& operator=(const kcDiagObject&) = delete;
  virtual ~kcDiagObject();

  // getRecordingDestination(recorder, flags): the recorder an operation records into, given the
  // recorder and the flags its caller passed: null when recorder is null, else recorder. With a
  // recorder, flags gains the recorder's own flags(). Flags are 32 bits wide: in every case the
  // bits above the 32nd are cleared, so the flags a record keeps fit their archive width.
  static kcDiagObject* getRecordingDestination(kcDiagObject* recorder, unsigned long& flags) noexcept;
  // shouldRecord(flags, what): whether flags select the kind what (its bit is set). False for
  // a what of 0.
  static bool shouldRecord(unsigned long flags, kcDiagDefs::What what) noexcept;

  // flags(): the recorder's own flags (0 for a new recorder). flags(f) sets them; throws
  // kcBadArgument, changing nothing, when f does not fit 32 bits.
  unsigned long flags() const { return flags_; }
  void flags(unsigned long f);

  // newDiagRecord(): appends a new, empty record and returns it. The reference lives until clear()
  // or the recorder's end; records never move. Derived recorders may override it to refuse a
  // record by throwing.
  virtual kcDiagRecord& newDiagRecord();
  // numRecords(): the records so far. diagRecord(index): record index (0-based, in the order made);
  // throws kcBadArgument unless 0 <= index < numRecords().
  long numRecords() const { return static_cast<long>(records_.size()); }
  kcDiagRecord& diagRecord(long index);
  const kcDiagRecord& diagRecord(long index) const;
  // clear(): deletes every record (their references die). The flags stay.
  void clear() { records_.clear(); }

 private:
  std::vector<std::unique_ptr<kcDiagRecord>> records_;
  unsigned long flags_ = 0;
};
